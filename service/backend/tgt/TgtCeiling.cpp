#include "backend/tgt/TgtCeiling.h"

#include <sys/resource.h>

#include <fstream>
#include <sstream>
#include <vector>

namespace zoscsi::tgt {
namespace {

// What one exported LUN costs tgtd (measured with tgtd 1.0.85; docs/TGT.md).
struct LunCost {
    int64_t threads, maps, descriptors, aioSlots, memoryKiB;
};

LunCost CostOf(const TgtConfig& config) {
    if (config.backingStore == "aio") return {0, 1, 2, 128, 24};  // an eventfd beside the file, the aio ring
    const int64_t threads = config.ioThreads;
    return {threads, 2 * threads, 1, 0, 8 + 8 * threads};
}

// One limit: what a LUN uses of it and how much of it tgtd may take.
struct Bound {
    const char* what;
    int64_t perLun;
    int64_t budget;
    std::string budgetText;
};

// Other processes share the machine-wide limits, so tgtd is given half of
// them; of its own per-process limits it keeps a reserve for its sessions.
std::vector<Bound> Bounds(const LunCost& cost, const MachineLimits& m) {
    std::vector<Bound> bounds;
    const char* pidName = "kernel.pid_max";
    int64_t pids = m.pidMax;
    if (m.threadsMax > 0 && (pids <= 0 || m.threadsMax < pids)) pids = m.threadsMax, pidName = "kernel.threads-max";
    if (m.cgroupPids > 0 && (pids <= 0 || m.cgroupPids < pids)) pids = m.cgroupPids, pidName = "the cgroup's pids.max";
    bounds.push_back({"threads", cost.threads, pids / 2, "half of " + std::string(pidName) + " " + std::to_string(pids)});

    bounds.push_back({"memory maps", cost.maps, m.mapCount - 1024,
                      "vm.max_map_count " + std::to_string(m.mapCount) + " less 1024 for tgtd itself"});

    int64_t files = m.openFiles;
    std::string filesText = "the hard descriptor limit " + std::to_string(files);
    if (m.fileMax > 0 && (files <= 0 || m.fileMax / 2 < files))
        files = m.fileMax / 2, filesText = "half of fs.file-max " + std::to_string(m.fileMax);
    const int64_t reserve = std::min<int64_t>(1024, files / 2);
    bounds.push_back({"descriptors", cost.descriptors, files - reserve,
                      filesText + " less " + std::to_string(reserve) + " for sessions and tgtd itself"});

    bounds.push_back({"aio slots", cost.aioSlots, m.aioMax / 2, "half of fs.aio-max-nr " + std::to_string(m.aioMax)});
    bounds.push_back({"memory (KiB)", cost.memoryKiB, m.memoryKiB / 4,
                      "a quarter of the machine's " + std::to_string(m.memoryKiB) + " KiB"});
    return bounds;
}

int64_t ReadNumber(const std::string& path) {
    std::ifstream file(path);
    int64_t value = 0;
    return (file >> value) && value > 0 ? value : 0;
}

// pids.max of this process's cgroup (v2 "0::/path", or v1's pids controller).
int64_t CgroupPids() {
    std::ifstream cgroups("/proc/self/cgroup");
    std::string line;
    while (std::getline(cgroups, line)) {
        const size_t first = line.find(':'), second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (controllers.empty() && line.compare(0, first, "0") == 0) {
            if (const int64_t v2 = ReadNumber("/sys/fs/cgroup" + path + "/pids.max")) return v2;
        } else if (controllers == "pids") {
            if (const int64_t v1 = ReadNumber("/sys/fs/cgroup/pids" + path + "/pids.max")) return v1;
        }
    }
    return 0;  // no pids controller, or "max"
}

int64_t MemTotalKiB() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    int64_t value = 0;
    while (meminfo >> key >> value) {
        if (key == "MemTotal:") return value;
        meminfo.ignore(64, '\n');
    }
    return 0;
}

}  // namespace

MachineLimits ReadMachineLimits() {
    MachineLimits limits;
    limits.pidMax = ReadNumber("/proc/sys/kernel/pid_max");
    limits.threadsMax = ReadNumber("/proc/sys/kernel/threads-max");
    limits.cgroupPids = CgroupPids();
    limits.mapCount = ReadNumber("/proc/sys/vm/max_map_count");
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_max != RLIM_INFINITY)
        limits.openFiles = static_cast<int64_t>(files.rlim_max);
    limits.fileMax = ReadNumber("/proc/sys/fs/file-max");
    limits.aioMax = ReadNumber("/proc/sys/fs/aio-max-nr");
    limits.memoryKiB = MemTotalKiB();
    return limits;
}

LunCeiling ComputeLunCeiling(const TgtConfig& config, const MachineLimits& limits) {
    LunCeiling ceiling{-1, "no limit of the machine is known"};
    for (const Bound& bound : Bounds(CostOf(config), limits)) {
        if (bound.perLun <= 0 || bound.budget <= 0) continue;
        const int64_t luns = bound.budget / bound.perLun;
        if (ceiling.luns >= 0 && luns >= ceiling.luns) continue;
        std::ostringstream cause;
        cause << bound.what << ": " << bound.perLun << " per LUN, " << bound.budget << " available ("
              << bound.budgetText << ")";
        ceiling = {luns, cause.str()};
    }
    return ceiling;
}

std::string CeilingText(const LunCeiling& ceiling) {
    if (ceiling.luns < 0) return "tgtd's LUNs are not limited here: " + ceiling.cause;
    return "tgtd can export at most " + std::to_string(ceiling.luns) + " LUNs on this machine (" + ceiling.cause + ")";
}

std::string PastCeiling(const LunCeiling& ceiling, int64_t wanted, int64_t held) {
    if (ceiling.luns < 0 || wanted <= ceiling.luns || wanted <= held) return {};
    return CeilingText(ceiling) + "; this change would export " + std::to_string(wanted) +
           " (a LUN counts once per host it is mapped to; TgtBackingStore and TgtIoThreads set what one costs)";
}

}  // namespace zoscsi::tgt
