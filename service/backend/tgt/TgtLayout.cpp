#include "backend/tgt/TgtLayout.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <utility>

namespace zoscsi::tgt {
namespace {

constexpr size_t kMaxClientPart = 40;

uint64_t Fnv1a(const std::vector<std::string>& parts) {
    uint64_t hash = 1469598103934665603ull;
    bool first = true;
    for (const std::string& part : parts) {
        if (!first) hash = (hash ^ 0u) * 1099511628211ull;  // a NUL between parts: no two splits meet
        first = false;
        for (unsigned char c : part) hash = (hash ^ c) * 1099511628211ull;
    }
    return hash;
}

std::string Hex(uint64_t value, int digits) {
    char buffer[17];
    std::snprintf(buffer, sizeof buffer, "%016llx", static_cast<unsigned long long>(value));
    return std::string(buffer + 16 - digits);
}

// Lower case letters, digits, '.' and '-'; every other byte becomes '-'.
std::string Safe(const std::string& text) {
    std::string safe = text;
    for (char& c : safe) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        const bool kept = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
        if (!kept) c = '-';
    }
    return safe;
}

std::string ClientPart(const std::string& client) {
    const std::string safe = Safe(client);
    if (safe == client && safe.size() <= kMaxClientPart) return safe;
    return safe.substr(0, kMaxClientPart - 9) + "-" + NameHash({client}, 8);
}

bool ValidLunId(int32_t id) { return id >= 1 && id <= 16383; }

}  // namespace

std::string NameHash(const std::vector<std::string>& parts, int digits) { return Hex(Fnv1a(parts), digits); }

std::string OwnedNamespace(const LayoutNames& names) {
    return names.iqnPrefix + ":" + ClientPart(names.client) + ":";
}

bool IsOwned(const LayoutNames& names, const std::string& tgtName) {
    const std::string ns = OwnedNamespace(names);
    return tgtName.size() > ns.size() && tgtName.compare(0, ns.size(), ns) == 0;
}

std::string TargetIqn(const LayoutNames& names, const std::string& target, const std::string& host) {
    const std::string head = OwnedNamespace(names);
    const std::string tail = "." + NameHash({names.client, target, host}, 16);
    std::string middle = target + "." + Safe(host);
    const size_t room = kMaxIqnBytes > head.size() + tail.size() ? kMaxIqnBytes - head.size() - tail.size() : 0;
    if (middle.size() > room) middle.resize(room);
    return head + middle + tail;
}

std::string LunPath(const LayoutNames& names, const std::string& target, int32_t id) {
    return names.lunDir + "/" + target + "/" + std::to_string(id) + ".img";
}

std::string LunSerial(const LunRecord& lun) {
    return NameHash({lun.target, std::to_string(lun.id), std::to_string(lun.created)}, 16);
}

DesiredTarget DesiredPair(const LayoutNames& names, const std::string& target, const std::string& host,
                          const std::vector<const LunRecord*>& luns) {
    DesiredTarget desired{TargetIqn(names, target, host), target, host, {}};
    desired.luns.reserve(luns.size());
    for (const LunRecord* lun : luns)
        desired.luns.push_back(DesiredLun{lun->id, LunPath(names, target, lun->id), LunSerial(*lun)});
    return desired;
}

Layout ComputeLayout(const LayoutNames& names, const InventorySnapshot& inventory) {
    Layout layout;
    std::map<std::pair<std::string, int32_t>, const LunRecord*> luns;
    for (const LunRecord& lun : inventory.luns) luns[{lun.target, lun.id}] = &lun;

    // (target, host) -> LUN ids that pair sees.
    std::map<std::pair<std::string, std::string>, std::set<int32_t>> seen;
    for (const MappingRecord& mapping : inventory.mappings) {
        const auto found = luns.find({mapping.target, mapping.lun});
        const std::string which = mapping.target + " LUN " + std::to_string(mapping.lun);
        if (found == luns.end()) {
            layout.problems.push_back("mapping of " + which + " to " + mapping.host + " names no LUN");
            continue;
        }
        if (!ValidLunId(mapping.lun) || mapping.host.empty()) {
            layout.problems.push_back("mapping of " + which + " to \"" + mapping.host + "\" cannot be exported");
            continue;
        }
        if (found->second->open) seen[{mapping.target, mapping.host}].insert(mapping.lun);
    }

    std::set<std::string> iqns;
    for (const auto& [pair, ids] : seen) {
        if (ids.empty()) continue;
        std::vector<const LunRecord*> exported;
        for (int32_t id : ids) exported.push_back(luns[{pair.first, id}]);
        DesiredTarget desired = DesiredPair(names, pair.first, pair.second, exported);
        if (!iqns.insert(desired.iqn).second) {
            layout.problems.push_back("host " + pair.second + " of target " + pair.first +
                                      " meets another pair's tgt target name " + desired.iqn);
            continue;
        }
        layout.targets.push_back(std::move(desired));
    }
    std::sort(layout.targets.begin(), layout.targets.end(),
              [](const DesiredTarget& a, const DesiredTarget& b) { return a.iqn < b.iqn; });
    return layout;
}

}  // namespace zoscsi::tgt
