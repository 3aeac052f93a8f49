#include "SnapshotEdit.h"

#include <algorithm>

namespace zoscsi::tgt {
namespace {

template <typename T, typename Pred>
void EraseIf(std::vector<T>& items, Pred pred) {
    items.erase(std::remove_if(items.begin(), items.end(), pred), items.end());
}

}  // namespace

InventorySnapshot WithTarget(InventorySnapshot snapshot, const TargetRecord& target) {
    EraseIf(snapshot.targets, [&](const TargetRecord& t) { return t.name == target.name; });
    snapshot.targets.push_back(target);
    return snapshot;
}

InventorySnapshot WithoutTarget(InventorySnapshot snapshot, const std::string& target) {
    EraseIf(snapshot.targets, [&](const TargetRecord& t) { return t.name == target; });
    EraseIf(snapshot.luns, [&](const LunRecord& l) { return l.target == target; });
    EraseIf(snapshot.mappings, [&](const MappingRecord& m) { return m.target == target; });
    return snapshot;
}

InventorySnapshot WithLun(InventorySnapshot snapshot, const LunRecord& lun) {
    EraseIf(snapshot.luns, [&](const LunRecord& l) { return l.target == lun.target && l.id == lun.id; });
    snapshot.luns.push_back(lun);
    return snapshot;
}

InventorySnapshot WithoutLun(InventorySnapshot snapshot, const std::string& target, int32_t id) {
    EraseIf(snapshot.luns, [&](const LunRecord& l) { return l.target == target && l.id == id; });
    EraseIf(snapshot.mappings, [&](const MappingRecord& m) { return m.target == target && m.lun == id; });
    return snapshot;
}

InventorySnapshot WithHosts(InventorySnapshot snapshot, const LunRecord& lun, const std::vector<std::string>& hosts) {
    snapshot = WithLun(std::move(snapshot), lun);
    EraseIf(snapshot.mappings, [&](const MappingRecord& m) { return m.target == lun.target && m.lun == lun.id; });
    for (const std::string& host : hosts) snapshot.mappings.push_back(MappingRecord{lun.target, lun.id, host});
    return snapshot;
}

}  // namespace zoscsi::tgt
