// Small inventories for the layout, plan and backend tests.
#pragma once

#include "backend/Backend.h"

#include <string>
#include <vector>

inline zoscsi::LunRecord Lun(const std::string& target, int32_t id, bool open = true, int64_t created = 1000) {
    zoscsi::LunRecord lun;
    lun.target = target;
    lun.id = id;
    lun.name = target + ":lun" + std::to_string(id);
    lun.sizeBytes = 64ull << 20;
    lun.open = open;
    lun.created = created;
    return lun;
}

// `luns` and "target/lun -> host" mappings.
inline zoscsi::InventorySnapshot Inventory(const std::vector<zoscsi::LunRecord>& luns,
                                           const std::vector<zoscsi::MappingRecord>& mappings) {
    zoscsi::InventorySnapshot snapshot;
    for (const zoscsi::LunRecord& lun : luns) {
        bool known = false;
        for (const auto& t : snapshot.targets) known = known || t.name == lun.target;
        if (!known) snapshot.targets.push_back(zoscsi::TargetRecord{lun.target, "", 1});
    }
    snapshot.luns = luns;
    snapshot.mappings = mappings;
    return snapshot;
}
