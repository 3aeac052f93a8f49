// Who sees what: one tgt target per (target, host), holding exactly the open
// LUNs mapped to that host, named so that no two pairs and no other
// instance ever meet.
#include "backend/tgt/TgtLayout.h"
#include "Inventories.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace zoscsi;
using namespace zoscsi::tgt;

namespace {

const LayoutNames kNames{"iqn.2026-12.local.zo", "alpha", "/state/alpha/luns"};

// host -> "target:lun" it sees, from a layout.
std::map<std::string, std::set<std::string>> Visible(const Layout& layout) {
    std::map<std::string, std::set<std::string>> seen;
    for (const DesiredTarget& target : layout.targets)
        for (const DesiredLun& lun : target.luns) seen[target.host].insert(target.target + ":" + std::to_string(lun.lun));
    return seen;
}

struct ExposureCase {
    const char* name;
    InventorySnapshot inventory;
    std::map<std::string, std::set<std::string>> visible;
    size_t tgtTargets;
};

}  // namespace

TEST(TgtLayout, EachHostSeesExactlyTheOpenLunsMappedToIt) {
    const std::vector<ExposureCase> cases = {
        {"unmapped LUN is exported nowhere", Inventory({Lun("t1", 1)}, {}), {}, 0},
        {"one mapping", Inventory({Lun("t1", 1)}, {{"t1", 1, "hostA"}}), {{"hostA", {"t1:1"}}}, 1},
        {"closed LUN is hidden even when mapped", Inventory({Lun("t1", 1, false)}, {{"t1", 1, "hostA"}}), {}, 0},
        {"two hosts of one LUN get a target each",
         Inventory({Lun("t1", 1)}, {{"t1", 1, "hostA"}, {"t1", 1, "hostB"}}),
         {{"hostA", {"t1:1"}}, {"hostB", {"t1:1"}}},
         2},
        {"a host sees only its own LUNs of a target",
         Inventory({Lun("t1", 1), Lun("t1", 2), Lun("t1", 3)}, {{"t1", 1, "hostA"}, {"t1", 2, "hostB"}, {"t1", 3, "hostA"}}),
         {{"hostA", {"t1:1", "t1:3"}}, {"hostB", {"t1:2"}}},
         2},
        {"targets stay apart for one host",
         Inventory({Lun("t1", 1), Lun("t2", 1)}, {{"t1", 1, "hostA"}, {"t2", 1, "hostA"}}),
         {{"hostA", {"t1:1", "t2:1"}}},
         2},
        {"a mapping to a LUN that does not exist exports nothing", Inventory({Lun("t1", 1)}, {{"t1", 2, "hostA"}}), {}, 0},
        {"a mapping repeated is one", Inventory({Lun("t1", 1)}, {{"t1", 1, "h"}, {"t1", 1, "h"}}), {{"h", {"t1:1"}}}, 1},
    };
    for (const ExposureCase& c : cases) {
        const Layout layout = ComputeLayout(kNames, c.inventory);
        EXPECT_EQ(Visible(layout), c.visible) << c.name;
        EXPECT_EQ(layout.targets.size(), c.tgtTargets) << c.name;
        for (const DesiredTarget& target : layout.targets) EXPECT_FALSE(target.luns.empty()) << c.name;
    }
}

TEST(TgtLayout, ReportsMappingsItCannotLayOut) {
    const Layout layout = ComputeLayout(kNames, Inventory({Lun("t1", 1)}, {{"t1", 2, "hostA"}}));
    ASSERT_EQ(layout.problems.size(), 1u);
    EXPECT_NE(layout.problems[0].find("t1 LUN 2"), std::string::npos);
}

TEST(TgtLayout, LunsKeepTheirIdsPathsAndOneSerialForEveryHost) {
    const Layout layout =
        ComputeLayout(kNames, Inventory({Lun("t1", 5, true, 77)}, {{"t1", 5, "hostA"}, {"t1", 5, "hostB"}}));
    ASSERT_EQ(layout.targets.size(), 2u);
    const DesiredLun& a = layout.targets[0].luns.at(0);
    const DesiredLun& b = layout.targets[1].luns.at(0);
    EXPECT_EQ(a.lun, 5);
    EXPECT_EQ(a.path, "/state/alpha/luns/t1/5.img");
    EXPECT_EQ(a.serial, b.serial);
    EXPECT_EQ(a.serial.size(), 16u);
    EXPECT_EQ(a.serial.find_first_not_of("0123456789abcdef"), std::string::npos);
}

TEST(TgtLayout, ALunMadeAgainUnderTheSameIdGetsANewSerial) {
    EXPECT_NE(LunSerial(Lun("t1", 1, true, 100)), LunSerial(Lun("t1", 1, true, 101)));
    EXPECT_NE(LunSerial(Lun("t1", 1)), LunSerial(Lun("t1", 2)));
    EXPECT_NE(LunSerial(Lun("t1", 11)), LunSerial(Lun("t11", 1)));
    EXPECT_EQ(LunSerial(Lun("t1", 1)), LunSerial(Lun("t1", 1)));
}

TEST(TgtLayout, TargetNamesAreIqnsUnderTheInstancesNamespace) {
    const std::string iqn = TargetIqn(kNames, "disk1", "iqn.1993-08.org.Debian:01:abc");
    EXPECT_EQ(iqn.rfind("iqn.2026-12.local.zo:alpha:disk1.iqn.1993-08.org.debian-01-abc.", 0), 0u) << iqn;
    EXPECT_EQ(iqn.size(), std::string("iqn.2026-12.local.zo:alpha:disk1.iqn.1993-08.org.debian-01-abc.").size() + 16);
    EXPECT_TRUE(IsOwned(kNames, iqn));
    for (unsigned char c : iqn)
        EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':') << iqn;
}

TEST(TgtLayout, NamesAreStableAcrossReleases) {
    // docs/SERVICE.md shows this one; a change would orphan every target in a running tgtd.
    EXPECT_EQ(TargetIqn({"iqn.2026-12.local.zo", "node1", ""}, "disk1", "iqn.1993-08.org.debian:01:abc"),
              "iqn.2026-12.local.zo:node1:disk1.iqn.1993-08.org.debian-01-abc.25d4cf57440c754b");
}

TEST(TgtLayout, HostsWhoseSafeFormsMeetStillGetTwoTargets) {
    const std::vector<std::string> hosts = {"Host_A", "host-a", "HOST-A", "host:a", "host a"};
    std::set<std::string> iqns;
    for (const std::string& host : hosts) iqns.insert(TargetIqn(kNames, "t", host));
    EXPECT_EQ(iqns.size(), hosts.size());
    // The split between target and host is part of the hash too.
    EXPECT_NE(TargetIqn(kNames, "a.b", "c"), TargetIqn(kNames, "a", "b.c"));
}

TEST(TgtLayout, LongNamesAreCutToTheIqnLimitAndStayDistinct) {
    const std::string target(223, 't');
    const std::string iqnA = TargetIqn(kNames, target, std::string(223, 'h'));
    const std::string iqnB = TargetIqn(kNames, target, std::string(222, 'h') + "i");
    EXPECT_EQ(iqnA.size(), kMaxIqnBytes);
    EXPECT_EQ(iqnB.size(), kMaxIqnBytes);
    EXPECT_NE(iqnA, iqnB);
    EXPECT_TRUE(IsOwned(kNames, iqnA));
}

TEST(TgtLayout, OwnershipIsPerInstance) {
    const LayoutNames other{"iqn.2026-12.local.zo", "alphabet", "/x"};
    const LayoutNames odd{"iqn.2026-12.local.zo", "Alpha_1", "/x"};
    const std::string mine = TargetIqn(kNames, "t", "h");
    EXPECT_FALSE(IsOwned(other, mine));
    EXPECT_FALSE(IsOwned(kNames, TargetIqn(other, "t", "h")));
    EXPECT_FALSE(IsOwned(kNames, "iqn.2026-12.local.zo:alpha:"));
    EXPECT_FALSE(IsOwned(kNames, "iqn.2026-12.local.zo:beta:t.h.0"));
    EXPECT_FALSE(IsOwned(kNames, "iqn.2026-12.local.zo"));
    // A client name outside the IQN alphabet is made safe and told apart by a hash.
    const std::string ns = OwnedNamespace(odd);
    EXPECT_EQ(ns.rfind("iqn.2026-12.local.zo:alpha-1-", 0), 0u) << ns;
    EXPECT_NE(ns, OwnedNamespace({"iqn.2026-12.local.zo", "alpha-1", "/x"}));
}
