// SnapshotEdit: an inventory snapshot with one change made, as the
// end-to-end tests keep the inventory they tell the backend about. Pure.
#pragma once

#include "backend/Backend.h"

#include <string>
#include <vector>

namespace zoscsi::tgt {

InventorySnapshot WithTarget(InventorySnapshot snapshot, const TargetRecord& target);
// The target goes with its LUNs and their mappings.
InventorySnapshot WithoutTarget(InventorySnapshot snapshot, const std::string& target);
// Adds the LUN or replaces the record of the same target and id.
InventorySnapshot WithLun(InventorySnapshot snapshot, const LunRecord& lun);
// The LUN goes with its mappings.
InventorySnapshot WithoutLun(InventorySnapshot snapshot, const std::string& target, int32_t id);
// The LUN (added or replaced as in WithLun) is mapped to exactly `hosts`.
InventorySnapshot WithHosts(InventorySnapshot snapshot, const LunRecord& lun, const std::vector<std::string>& hosts);

}  // namespace zoscsi::tgt
