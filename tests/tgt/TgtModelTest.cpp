// The model of tgtd: it follows the requests it is told of exactly as tgtd
// would show them afterwards, keeps only this instance's targets (marked by
// where their LUN files lie), and never hands out a tid in use.
#include "backend/tgt/TgtModel.h"
#include "backend/tgt/TgtPlan.h"
#include "Inventories.h"

#include <gtest/gtest.h>

using namespace zoscsi;
using namespace zoscsi::tgt;
using Op = TgtCommand::Op;

namespace {

const LayoutNames kNames{"iqn.2026-12.local.zo", "alpha", "/s/alpha/luns"};

std::string Iqn(const std::string& target, const std::string& host) { return TargetIqn(kNames, target, host); }

TgtTargetState Shown(int tid, const std::string& name, std::vector<TgtLunState> luns, std::vector<std::string> acls) {
    luns.insert(luns.begin(), TgtLunState{0, "None", "beaf10"});
    return TgtTargetState{tid, name, std::move(luns), std::move(acls), {}};
}

TgtModel Loaded(const std::vector<TgtTargetState>& shown) {
    TgtModel model(kNames);
    model.Load(shown);
    return model;
}

}  // namespace

TEST(TgtModel, FollowsRequestsAsTgtdShowsThemAfterwards) {
    TgtModel model = Loaded({Shown(2, Iqn("t1", "hostA"), {{1, "/s/alpha/luns/t1/1.img", "aa"}}, {"hostA"})});
    for (const TgtCommand& done : {TgtCommand::Of(Op::NewTarget, 1, 0, Iqn("t1", "hostB")),
                                   TgtCommand::Of(Op::NewLun, 1, 1, "/s/alpha/luns/t1/1.img"),
                                   TgtCommand::Of(Op::SetLunIdentity, 1, 1, "aa"),
                                   TgtCommand::Of(Op::BindInitiator, 1, 0, "hostB"),
                                   TgtCommand::Of(Op::NewLun, 2, 2, "/s/alpha/luns/t1/2.img"),
                                   TgtCommand::Of(Op::SetLunIdentity, 2, 2, "bb"),
                                   TgtCommand::Of(Op::DeleteLun, 2, 1),
                                   TgtCommand::Of(Op::UnbindInitiator, 2, 0, "hostA"),
                                   TgtCommand::Of(Op::BindInitiator, 2, 0, "hostC")})
        model.Apply(done);
    const TgtModel shown = Loaded({Shown(1, Iqn("t1", "hostB"), {{1, "/s/alpha/luns/t1/1.img", "aa"}}, {"hostB"}),
                                   Shown(2, Iqn("t1", "hostA"), {{2, "/s/alpha/luns/t1/2.img", "bb"}}, {"hostC"})});
    EXPECT_EQ(model.Describe(), shown.Describe());

    model.Apply(TgtCommand::Of(Op::DeleteTarget, 1));
    EXPECT_EQ(model.Find(Iqn("t1", "hostB")), nullptr);
    EXPECT_EQ(model.tids().Take(), 1) << "a deleted target's tid is free again";
}

// Whatever the plan from a model, carried out on that model it leaves
// nothing more to plan.
TEST(TgtModel, APlanCarriedOutLeavesNothingToPlan) {
    const InventorySnapshot inventory = Inventory({Lun("t1", 1), Lun("t1", 2), Lun("t2", 1), Lun("t2", 2, false)},
                                                  {{"t1", 1, "hostA"}, {"t1", 2, "hostA"}, {"t1", 2, "hostB"},
                                                   {"t2", 1, "hostA"}, {"t2", 2, "hostB"}});
    const Layout layout = ComputeLayout(kNames, inventory);
    const std::vector<std::vector<TgtTargetState>> starts = {
        {},
        {Shown(1, Iqn("t1", "hostA"), {{2, "/elsewhere/x.img", ""}}, {"hostA"})},  // foreign: left alone
        {Shown(3, Iqn("t1", "hostA"), {{1, "/s/alpha/luns/t1/1.img", "old"}, {5, "/s/alpha/luns/t1/5.img", ""}},
               {"hostA", "ALL"}),
         Shown(4, Iqn("t9", "hostZ"), {}, {}), Shown(6, "iqn.2001-04.com.example:other", {}, {"ALL"})},
    };
    for (const auto& start : starts) {
        TgtModel model = Loaded(start);
        for (const TgtCommand& step : PlanChanges(kNames, model.Owned(), layout, model.tids())) model.Apply(step);
        EXPECT_TRUE(PlanChanges(kNames, model.Owned(), layout, model.tids()).empty()) << start.size() << " targets at first";
    }
}

TEST(TgtModel, KeepsItsOwnTargetsAndMarksOthersUnderItsNameByWhereTheirFilesLie) {
    const TgtModel model = Loaded({
        Shown(1, Iqn("t1", "hostA"), {{1, "/s/alpha/luns/t1/1.img", "aa"}}, {"hostA"}),
        Shown(2, Iqn("t1", "hostB"), {{1, "/other/alpha/luns/t1/1.img", "aa"}}, {"hostB"}),
        Shown(3, Iqn("t2", "hostA"), {{1, "/s/alpha/luns/t2/1.img", ""}, {2, "/srv/by-hand.img", ""}}, {}),
        Shown(5, TargetIqn({kNames.iqnPrefix, "beta", "/s/beta/luns"}, "t1", "hostA"), {}, {}),
        Shown(6, "iqn.2001-04.com.example:disk", {{1, "/srv/disk.img", ""}}, {"ALL"}),
    });
    EXPECT_EQ(model.ownedCount(), 1u);
    ASSERT_EQ(model.foreign().size(), 2u);
    EXPECT_EQ(model.FindForeign(Iqn("t1", "hostB"))->owner, "/other/alpha");
    EXPECT_EQ(model.FindForeign(Iqn("t2", "hostA"))->owner, "/srv/by-hand.img");
    EXPECT_EQ(model.FindForeign(Iqn("t1", "hostA")), nullptr);
    EXPECT_EQ(model.Owned().at(0).tid, 1);
    TidPool tids = model.tids();
    EXPECT_EQ(tids.Take(), 4) << "every tid in tgtd is in use, whoever's";
    EXPECT_EQ(tids.Take(), 7);
    tids.Free(2);
    EXPECT_EQ(tids.Take(), 2);
}
