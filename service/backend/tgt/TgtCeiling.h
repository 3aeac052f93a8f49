// TgtCeiling: how many LUNs one tgtd can export on this machine with the
// configured data path, and which of the machine's limits binds first
// (docs/TGT.md, "How many LUNs").
//
// tgtd pays for each LUN it exports (a LUN mapped to two hosts is two of
// its LUNs): an rdwr LUN runs its own I/O threads (each a pid and two
// memory maps: its stack and guard), an aio LUN reserves 128 of the
// machine's aio slots, and every LUN holds one or two descriptors and some
// memory. The machine's limits are read once, when the backend is made;
// the ceiling is a pure function of them and the settings.
#pragma once

#include "backend/tgt/TgtConfig.h"

#include <cstdint>
#include <string>

namespace zoscsi::tgt {

// 0 where a limit could not be read or does not exist: it bounds nothing.
struct MachineLimits {
    int64_t pidMax = 0;       // kernel.pid_max
    int64_t threadsMax = 0;   // kernel.threads-max
    int64_t cgroupPids = 0;   // pids.max of this process's cgroup (tgtd starts in it)
    int64_t mapCount = 0;     // vm.max_map_count: memory maps of one process
    int64_t openFiles = 0;    // this process's hard descriptor limit (tgtd inherits it)
    int64_t fileMax = 0;      // fs.file-max
    int64_t aioMax = 0;       // fs.aio-max-nr
    int64_t memoryKiB = 0;    // MemTotal
};

MachineLimits ReadMachineLimits();

struct LunCeiling {
    int64_t luns = 0;    // LUNs tgtd may export; a negative value: no limit is known
    std::string cause;   // the limit that binds, with its arithmetic
};

LunCeiling ComputeLunCeiling(const TgtConfig& config, const MachineLimits& limits);

// "tgtd can export at most N LUNs on this machine (CAUSE)".
std::string CeilingText(const LunCeiling& ceiling);

// Empty when `wanted` LUNs fit under the ceiling, or are no more than the
// `held` LUNs tgtd was last brought to (taking away is always allowed);
// otherwise the reason for refusing.
std::string PastCeiling(const LunCeiling& ceiling, int64_t wanted, int64_t held);

}  // namespace zoscsi::tgt
