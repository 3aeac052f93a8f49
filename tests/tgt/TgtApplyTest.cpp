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

// Several requests at once: each runs once, a target's creation before its
// LUNs, a LUN before its identity, the rule after all of its target's LUNs,
// and access is taken away before any is granted. A failed LUN keeps its
// host out of that target only.
TEST(TgtApply, SideBySideRequestsKeepEachTargetsOrder) {
    FakeTgtAdm fake;
    fake.Delay(20);
    fake.FailOn("--backing-store=/d/2-2.img", "tgtadm: invalid request");
    std::vector<TgtCommand> plan = {TgtCommand::Of(Op::DeleteTarget, 9), TgtCommand::Of(Op::DeleteLun, 8, 4)};
    for (int tid = 1; tid <= 3; ++tid) {
        plan.push_back(TgtCommand::Of(Op::NewTarget, tid, 0, "iqn.x:a:" + std::to_string(tid)));
        for (int lun = 1; lun <= 3; ++lun) {
            plan.push_back(TgtCommand::Of(Op::NewLun, tid, lun, "/d/" + std::to_string(tid) + "-" + std::to_string(lun) + ".img"));
            plan.push_back(TgtCommand::Of(Op::SetLunIdentity, tid, lun, "s"));
        }
        plan.push_back(TgtCommand::Of(Op::BindInitiator, tid, 0, "h" + std::to_string(tid)));
    }
    ApplyOptions options;
    options.workers = 4;
    size_t told = 0;
    options.ended = [&](const TgtCommand&, bool) { ++told; };
    const ApplyOutcome outcome = ApplyPlan(fake.Adm(), plan, options);

    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(told, plan.size());
    const std::vector<std::string> requests = fake.Requests();
    EXPECT_EQ(requests.size(), plan.size() - 2) << "the failed LUN's identity and its target's rule are skipped";
    const TgtAdm adm = fake.Adm();
    auto at = [&](const TgtCommand& command) {
        const std::vector<std::string> argv = adm.Argv(command);
        std::string request;  // as the fake tells it: without the program, control port and driver
        for (size_t i = 3; i < argv.size(); ++i) request += (i > 3 ? " " : "") + argv[i];
        for (size_t i = 0; i < requests.size(); ++i)
            if (requests[i] == request) return static_cast<long>(i);
        return -1L;
    };
    for (const TgtCommand& command : plan) {
        const long self = at(command);
        if (self < 0) continue;
        if (command.op == Op::DeleteTarget || command.op == Op::DeleteLun) {
            EXPECT_LT(self, 2) << TgtAdm::Describe(command);
            continue;
        }
        for (const TgtCommand& before : plan) {
            if (before.tid != command.tid) continue;
            const bool creates = before.op == Op::NewTarget && command.op != Op::NewTarget;
            const bool lunFirst = before.op == Op::NewLun && command.op == Op::SetLunIdentity && before.lun == command.lun;
            const bool allLuns = command.op == Op::BindInitiator && (before.op == Op::NewLun || before.op == Op::SetLunIdentity);
            if (creates || lunFirst || allLuns) {
                EXPECT_LT(at(before), self) << TgtAdm::Describe(before) << " before " << TgtAdm::Describe(command);
            }
        }
    }
    EXPECT_EQ(at(TgtCommand::Of(Op::BindInitiator, 2, 0, "h2")), -1);
}
