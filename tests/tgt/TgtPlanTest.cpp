// From what tgtd shows to the layout: only owned targets are touched, access
// is taken away before any is granted, and a new target admits its host
// only once it is complete.
#include "backend/tgt/TgtPlan.h"
#include "Inventories.h"

#include <gtest/gtest.h>

using namespace zoscsi;
using namespace zoscsi::tgt;
using Op = TgtCommand::Op;

namespace {

const LayoutNames kNames{"iqn.2026-12.local.zo", "alpha", "/s/luns"};

// One LUN t1/1 mapped to hostA.
const InventorySnapshot kOneMapping = Inventory({Lun("t1", 1)}, {{"t1", 1, "hostA"}});

std::string Iqn(const std::string& target, const std::string& host) { return TargetIqn(kNames, target, host); }

TgtTargetState Shown(int tid, const std::string& name, std::vector<std::pair<int, std::string>> luns,
                     std::vector<std::string> acls, const std::string& serial = "") {
    TgtTargetState target;
    target.tid = tid;
    target.name = name;
    target.luns.push_back({0, "None", "beaf10"});
    for (const auto& [lun, path] : luns) target.luns.push_back({lun, path, serial});
    target.acls = std::move(acls);
    return target;
}

// The plan as "op tid lun text" lines, for readable comparisons.
std::vector<std::string> Lines(const std::vector<TgtCommand>& plan) {
    static const char* const kOps[] = {"show",  "portals", "new-target", "delete-target", "bind",   "unbind",
                                       "new-lun", "delete-lun", "identity", "delete-conn", "system"};
    std::vector<std::string> lines;
    for (const TgtCommand& c : plan) {
        std::string line = std::string(kOps[static_cast<int>(c.op)]) + " " + std::to_string(c.tid);
        if (c.lun) line += " " + std::to_string(c.lun);
        if (!c.text.empty() && c.op != Op::SetLunIdentity) line += " " + c.text;
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Plan(const std::vector<TgtTargetState>& actual, const InventorySnapshot& inventory) {
    return Lines(PlanChanges(kNames, actual, ComputeLayout(kNames, inventory)));
}

const std::string kSerial = LunSerial(Lun("t1", 1));

}  // namespace

TEST(TgtPlan, ANewTargetGetsItsLunsAndIdentityBeforeItsOneRule) {
    EXPECT_EQ(Plan({}, kOneMapping),
              (std::vector<std::string>{"new-target 1 " + Iqn("t1", "hostA"), "new-lun 1 1 /s/luns/t1/1.img",
                                        "identity 1 1", "bind 1 hostA"}));
}

TEST(TgtPlan, TgtdInLineWithTheLayoutNeedsNothing) {
    EXPECT_TRUE(Plan({Shown(4, Iqn("t1", "hostA"), {{1, "/s/luns/t1/1.img"}}, {"hostA"}, kSerial)}, kOneMapping).empty());
}

TEST(TgtPlan, LeavesOtherTargetsAloneAndNeverTakesTheirTids) {
    const std::vector<TgtTargetState> foreign = {
        Shown(1, "iqn.2001-04.com.example:disk", {{1, "/srv/x.img"}}, {"ALL"}),
        Shown(2, TargetIqn({"iqn.2026-12.local.zo", "beta", "/b"}, "t1", "hostA"), {{1, "/b/t1/1.img"}}, {"hostA"}),
        Shown(3, "iqn.2026-12.local.zo:alphabet:t1.hosta.0", {}, {}),
    };
    const std::vector<std::string> plan = Plan(foreign, kOneMapping);
    ASSERT_EQ(plan.size(), 4u);
    EXPECT_EQ(plan[0], "new-target 4 " + Iqn("t1", "hostA"));
    EXPECT_TRUE(Plan(foreign, InventorySnapshot{}).empty());
}

TEST(TgtPlan, MendsOwnedTargetsAndTakesAccessAwayFirst) {
    struct Case {
        const char* name;
        std::vector<TgtTargetState> actual;
        InventorySnapshot inventory;
        std::vector<std::string> plan;
    };
    const std::string a = Iqn("t1", "hostA"), b = Iqn("t1", "hostB");
    const std::vector<Case> cases = {
        {"unwanted target deleted", {Shown(5, a, {{1, "/s/luns/t1/1.img"}}, {"hostA"})}, InventorySnapshot{},
         {"delete-target 5"}},
        {"extra LUN deleted", {Shown(5, a, {{1, "/s/luns/t1/1.img"}, {2, "/s/luns/t1/2.img"}}, {"hostA"}, kSerial)},
         kOneMapping, {"delete-lun 5 2"}},
        {"missing LUN added", {Shown(5, a, {}, {"hostA"})}, kOneMapping,
         {"new-lun 5 1 /s/luns/t1/1.img", "identity 5 1"}},
        {"LUN on the wrong file replaced", {Shown(5, a, {{1, "/elsewhere.img"}}, {"hostA"}, kSerial)}, kOneMapping,
         {"delete-lun 5 1", "new-lun 5 1 /s/luns/t1/1.img", "identity 5 1"}},
        {"wrong identity set again", {Shown(5, a, {{1, "/s/luns/t1/1.img"}}, {"hostA"}, "beaf51")}, kOneMapping,
         {"identity 5 1"}},
        {"target without its rule gets it", {Shown(5, a, {{1, "/s/luns/t1/1.img"}}, {}, kSerial)}, kOneMapping,
         {"bind 5 hostA"}},
        {"target open to more than its host is made again",
         {Shown(5, a, {{1, "/s/luns/t1/1.img"}}, {"hostA", "ALL"}, kSerial)}, kOneMapping,
         {"delete-target 5", "new-target 1 " + a, "new-lun 1 1 /s/luns/t1/1.img", "identity 1 1", "bind 1 hostA"}},
        {"target admitting another host is made again", {Shown(5, a, {{1, "/s/luns/t1/1.img"}}, {"hostB"}, kSerial)},
         kOneMapping,
         {"delete-target 5", "new-target 1 " + a, "new-lun 1 1 /s/luns/t1/1.img", "identity 1 1", "bind 1 hostA"}},
        {"a second target of the same name deleted",
         {Shown(5, a, {{1, "/s/luns/t1/1.img"}}, {"hostA"}, kSerial), Shown(6, a, {}, {"hostA"})}, kOneMapping,
         {"delete-target 6"}},
        {"remap: the old host's target goes before the new one's comes",
         {Shown(5, a, {{1, "/s/luns/t1/1.img"}}, {"hostA"}, kSerial)},
         Inventory({Lun("t1", 1)}, {{"t1", 1, "hostB"}}),
         {"delete-target 5", "new-target 1 " + b, "new-lun 1 1 /s/luns/t1/1.img", "identity 1 1", "bind 1 hostB"}},
        {"closing hides the LUN from every host",
         {Shown(5, a, {{1, "/s/luns/t1/1.img"}}, {"hostA"}, kSerial), Shown(6, b, {{1, "/s/luns/t1/1.img"}}, {"hostB"}, kSerial)},
         Inventory({Lun("t1", 1, false)}, {{"t1", 1, "hostA"}, {"t1", 1, "hostB"}}),
         {"delete-target 5", "delete-target 6"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Plan(c.actual, c.inventory), c.plan) << c.name;
}
