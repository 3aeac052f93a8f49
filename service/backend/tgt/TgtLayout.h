// TgtLayout: what tgtd must hold for an inventory. Pure.
//
// tgtd's access rules are per target and it has no per-LUN masking, so one
// tgt target stands for one (inventory target, host) pair: it holds exactly
// the open LUNs of that target mapped to that host, and admits only that
// host, by initiator name. A LUN mapped to nobody, or closed, is exported
// nowhere. Every tgt target this instance owns is named
//   PREFIX:CLIENT:TARGET.HOST.HASH
// where CLIENT and HOST are the client and host names made IQN-safe, HASH is
// 16 hex digits of a hash over the exact client, target and host names (so
// two hosts whose safe forms meet still get two targets), and the middle is
// shortened when the whole would pass 223 bytes. Anything under
// "PREFIX:CLIENT:" belongs to this instance; nothing else is touched.
#pragma once

#include "backend/Backend.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zoscsi::tgt {

constexpr size_t kMaxIqnBytes = 223;

struct LayoutNames {
    std::string iqnPrefix;  // e.g. iqn.2026-12.local.zo
    std::string client;     // the instance's client name
    std::string lunDir;     // folder of the backing files
};

struct DesiredLun {
    int lun = 0;
    std::string path;
    std::string serial;  // same for every host that sees the LUN
};

struct DesiredTarget {
    std::string iqn;
    std::string target;  // inventory target
    std::string host;    // the one initiator name admitted
    std::vector<DesiredLun> luns;  // by LUN number
};

struct Layout {
    std::vector<DesiredTarget> targets;  // by IQN
    std::vector<std::string> problems;   // inventory entries that could not be laid out
};

// `digits` (up to 16) hex digits of a 64-bit FNV-1a hash over `parts`, a
// NUL between them: the hash in names, serials and claim files.
std::string NameHash(const std::vector<std::string>& parts, int digits);

// "PREFIX:CLIENT:": every owned tgt target name starts with it.
std::string OwnedNamespace(const LayoutNames& names);
bool IsOwned(const LayoutNames& names, const std::string& tgtName);

std::string TargetIqn(const LayoutNames& names, const std::string& target, const std::string& host);
// LUNDIR/TARGET/ID.img
std::string LunPath(const LayoutNames& names, const std::string& target, int32_t id);
// 16 hex digits from the LUN's target, id and creation time: stable across
// hosts and restarts, new for a LUN made again under the same id.
std::string LunSerial(const LunRecord& lun);

// The tgt target of one (target, host) pair exporting `luns` (by LUN id:
// the open LUNs of `target` mapped to `host`).
DesiredTarget DesiredPair(const LayoutNames& names, const std::string& target, const std::string& host,
                          const std::vector<const LunRecord*>& luns);

Layout ComputeLayout(const LayoutNames& names, const InventorySnapshot& inventory);

}  // namespace zoscsi::tgt
