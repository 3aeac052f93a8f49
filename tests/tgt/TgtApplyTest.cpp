// Carrying a plan out: a busy LUN has its sessions closed and its deletion
// retried; a target whose creation failed gets nothing added to it (its tid
// may be another tool's target by now).
#include "backend/tgt/TgtApply.h"
#include "FakeTgtAdm.h"

#include <gtest/gtest.h>

using namespace zoscsi::tgt;
using Op = TgtCommand::Op;

namespace {

const char* const kBusyTarget = R"(Target 4: iqn.x:a:t.h.0
    I_T nexus information:
        I_T nexus: 9
            Initiator: h alias: none
            Connection: 0
                IP Address: 127.0.0.1
    LUN information:
        LUN: 0
            Backing store path: None
        LUN: 1
            Backing store path: /d/1.img
    ACL information:
        h
)";

}  // namespace

TEST(TgtApply, ABusyLunHasItsSessionsClosedAndItsDeletionRetried) {
    FakeTgtAdm fake;
    fake.Targets(kBusyTarget);
    fake.FailOn("--lun=1", "tgtadm: this logical unit is still active", 2);
    const ApplyOutcome outcome = ApplyPlan(fake.Adm(), {TgtCommand::Of(Op::DeleteLun, 4, 1)}, true);
    EXPECT_TRUE(outcome.ok) << (outcome.failures.empty() ? "" : outcome.failures[0]);
    const std::vector<std::string> requests = fake.Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[1], "--mode target --op show");
    EXPECT_EQ(requests[2], "--mode conn --op delete --tid=4 --sid=9 --cid=0");
    EXPECT_EQ(requests[4], "--mode logicalunit --op delete --tid=4 --lun=1");
}

TEST(TgtApply, ALunThatStaysBusyFailsWithinItsRetries) {
    FakeTgtAdm fake;
    fake.Targets(kBusyTarget);
    fake.FailOn("--lun=1", "tgtadm: this logical unit is still active");
    const auto start = std::chrono::steady_clock::now();
    const ApplyOutcome outcome = ApplyPlan(fake.Adm(), {TgtCommand::Of(Op::DeleteLun, 4, 1)}, true);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_FALSE(outcome.ok);
    EXPECT_NE(outcome.failures.at(0).find("still active"), std::string::npos);
}

TEST(TgtApply, NothingIsAddedToATargetWhoseCreationFailed) {
    FakeTgtAdm fake;
    fake.FailOn("--targetname=iqn.x:a:one", "tgtadm: this target already exists");
    const ApplyOutcome outcome = ApplyPlan(fake.Adm(),
                                           {TgtCommand::Of(Op::NewTarget, 1, 0, "iqn.x:a:one"), TgtCommand::Of(Op::NewLun, 1, 1, "/d/1.img"),
                                            TgtCommand::Of(Op::BindInitiator, 1, 0, "h"), TgtCommand::Of(Op::NewTarget, 2, 0, "iqn.x:a:two"),
                                            TgtCommand::Of(Op::BindInitiator, 2, 0, "g")},
                                           false);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.done, 2u);
    EXPECT_EQ(fake.Requests(), (std::vector<std::string>{"--mode target --op new --tid=1 --targetname=iqn.x:a:one",
                                                         "--mode target --op new --tid=2 --targetname=iqn.x:a:two",
                                                         "--mode target --op bind --tid=2 --initiator-name=g"}));
}
