// The backend's copy of the inventory after one change: removals take their
// dependants along, replacements do not duplicate.
#include "SnapshotEdit.h"
#include "Inventories.h"

#include <gtest/gtest.h>

using namespace zoscsi;
using namespace zoscsi::tgt;

namespace {
const InventorySnapshot kBase =
    Inventory({Lun("t1", 1), Lun("t1", 2), Lun("t2", 1)}, {{"t1", 1, "a"}, {"t1", 2, "a"}, {"t2", 1, "a"}});
}

TEST(SnapshotEdit, RemovingATargetTakesItsLunsAndMappings) {
    const InventorySnapshot after = WithoutTarget(kBase, "t1");
    ASSERT_EQ(after.targets.size(), 1u);
    EXPECT_EQ(after.luns.size(), 1u);
    ASSERT_EQ(after.mappings.size(), 1u);
    EXPECT_EQ(after.mappings[0].target, "t2");
}

TEST(SnapshotEdit, RemovingALunTakesOnlyItsMappings) {
    const InventorySnapshot after = WithoutLun(kBase, "t1", 1);
    EXPECT_EQ(after.luns.size(), 2u);
    EXPECT_EQ(after.mappings.size(), 2u);
    for (const MappingRecord& m : after.mappings) EXPECT_FALSE(m.target == "t1" && m.lun == 1);
}

TEST(SnapshotEdit, ALunRecordIsReplacedNotRepeated) {
    const InventorySnapshot after = WithLun(kBase, Lun("t1", 2, false));
    EXPECT_EQ(after.luns.size(), 3u);
    for (const LunRecord& l : after.luns)
        if (l.target == "t1" && l.id == 2) {
            EXPECT_FALSE(l.open);
        }
    EXPECT_EQ(WithTarget(kBase, TargetRecord{"t1", "p", 2}).targets.size(), 2u);
}

TEST(SnapshotEdit, HostsOfALunAreSetToExactlyTheList) {
    const InventorySnapshot remapped = WithHosts(kBase, Lun("t1", 1), {"b", "c"});
    std::vector<std::string> hosts;
    for (const MappingRecord& m : remapped.mappings)
        if (m.target == "t1" && m.lun == 1) hosts.push_back(m.host);
    EXPECT_EQ(hosts, std::vector<std::string>({"b", "c"}));
    EXPECT_EQ(remapped.mappings.size(), 4u);
    EXPECT_EQ(WithHosts(kBase, Lun("t1", 1), {}).mappings.size(), 2u);
}
