// TgtMirror: the inventory as the backend was told it, kept between Start
// or Resync and the changes that follow, indexed so that a change reads and
// edits only the records it touches.
#pragma once

#include "backend/Backend.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace zoscsi::tgt {

// One LUN's record and its hosts (no record: the LUN does not exist).
struct LunEntry {
    std::optional<LunRecord> lun;
    std::vector<std::string> hosts;  // sorted
};

class TgtMirror {
public:
    void Reset(const InventorySnapshot& inventory);
    InventorySnapshot Snapshot() const;

    LunEntry Get(const std::string& target, int32_t id) const;
    // Replaces the LUN's record and hosts with `entry` (no record: removes both).
    void Put(const std::string& target, int32_t id, const LunEntry& entry);
    void PutTarget(const TargetRecord& target);
    // The target goes with its LUNs and their mappings.
    void DropTarget(const std::string& target);

    // The LUNs of `target` mapped to `host`, open or not, by id.
    std::vector<const LunRecord*> LunsOf(const std::string& target, const std::string& host) const;

private:
    using LunKey = std::pair<std::string, int32_t>;
    using PairKey = std::pair<std::string, std::string>;

    std::map<LunKey, LunRecord> m_luns;
    std::map<LunKey, std::set<std::string>> m_hosts;
    std::map<PairKey, std::set<int32_t>> m_pairs;  // (target, host) -> LUN ids mapped
    std::map<std::string, TargetRecord> m_targets;
};

}  // namespace zoscsi::tgt
