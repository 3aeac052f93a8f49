// tgtadm as the fake sees it: the exact argument vectors, failures carried
// with tgtadm's own message, a hanging tgtadm killed at its limit, and an
// answer that is not one refused.
#include "backend/tgt/TgtAdm.h"
#include "backend/tgt/TgtApply.h"
#include "FakeTgtAdm.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace zoscsi::tgt;
using Op = TgtCommand::Op;

namespace {

TgtCommand Make(Op op, int tid = 0, int lun = 0, std::string text = {}, int64_t sid = 0, int cid = 0) {
    TgtCommand command;
    command.op = op;
    command.tid = tid;
    command.lun = lun;
    command.text = std::move(text);
    command.sid = sid;
    command.cid = cid;
    return command;
}

struct ArgvCase {
    TgtCommand command;
    std::vector<std::string> words;  // after "--control-port=N --lld=iscsi"
};

}  // namespace

TEST(TgtAdm, SendsEachRequestAsThisExactArgumentVector) {
    const std::vector<ArgvCase> cases = {
        {Make(Op::ShowTargets), {"--mode", "target", "--op", "show"}},
        {Make(Op::ShowPortals), {"--mode", "portal", "--op", "show"}},
        {Make(Op::NewTarget, 3, 0, "iqn.x:a:t.h.0123"),
         {"--mode", "target", "--op", "new", "--tid=3", "--targetname=iqn.x:a:t.h.0123"}},
        {Make(Op::DeleteTarget, 3), {"--mode", "target", "--op", "delete", "--force", "--tid=3"}},
        {Make(Op::BindInitiator, 3, 0, "iqn.1993-08.org.debian:01:ab"),
         {"--mode", "target", "--op", "bind", "--tid=3", "--initiator-name=iqn.1993-08.org.debian:01:ab"}},
        {Make(Op::UnbindInitiator, 3, 0, "h"), {"--mode", "target", "--op", "unbind", "--tid=3", "--initiator-name=h"}},
        {Make(Op::NewLun, 3, 7, "/s/luns/t/7.img"),
         {"--mode", "logicalunit", "--op", "new", "--tid=3", "--lun=7", "--backing-store=/s/luns/t/7.img",
          "--bstype=rdwr", "--device-type=disk"}},
        {Make(Op::DeleteLun, 3, 7), {"--mode", "logicalunit", "--op", "delete", "--tid=3", "--lun=7"}},
        {Make(Op::SetLunIdentity, 3, 7, "00ff00ff00ff00ff"),
         {"--mode", "logicalunit", "--op", "update", "--tid=3", "--lun=7",
          "--params=scsi_id=00ff00ff00ff00ff,scsi_sn=00ff00ff00ff00ff"}},
        {Make(Op::DeleteConnection, 3, 0, "", 12, 1), {"--mode", "conn", "--op", "delete", "--tid=3", "--sid=12", "--cid=1"}},
        {Make(Op::DeleteSystem), {"--mode", "system", "--op", "delete"}},
    };
    FakeTgtAdm fake;
    const TgtAdm adm = fake.Adm(4242);
    for (const ArgvCase& c : cases) EXPECT_TRUE(adm.Run(c.command).ok) << TgtAdm::Describe(c.command);
    const auto calls = fake.Calls();
    ASSERT_EQ(calls.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        std::vector<std::string> expected{FakeTgtAdm::Path(), "--control-port=4242", "--lld=iscsi"};
        expected.insert(expected.end(), cases[i].words.begin(), cases[i].words.end());
        EXPECT_EQ(calls[i], expected) << TgtAdm::Describe(cases[i].command);
    }
    EXPECT_EQ(adm.calls(), cases.size());
}

TEST(TgtAdm, ValuesThatLookLikeOptionsStayInsideTheirOwnArgument) {
    FakeTgtAdm fake;
    const TgtAdm adm = fake.Adm();
    for (const std::string host : {"--op=delete", "-x", "a b", "ALL", "name=v,w"})
        EXPECT_TRUE(adm.Run(Make(Op::BindInitiator, 1, 0, host)).ok);
    const auto calls = fake.Calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].back(), "--initiator-name=--op=delete");
    EXPECT_EQ(calls[1].back(), "--initiator-name=-x");
    EXPECT_EQ(calls[2].back(), "--initiator-name=a b");
    for (const auto& call : calls) EXPECT_EQ(call.size(), 9u);
}

TEST(TgtAdm, TgtdStartsInTheForegroundOnItsControlPortAndOnePortal) {
    EXPECT_EQ(TgtdArgv("/usr/sbin/tgtd", 3261, "127.0.0.1:3260", 4),
              (std::vector<std::string>{"/usr/sbin/tgtd", "-f", "--control-port=3261", "--nr_iothreads=4", "--iscsi",
                                        "portal=127.0.0.1:3260"}));
}

TEST(TgtAdm, NewLogicalUnitsGetTheConfiguredBackingStore) {
    const struct {
        const char* store;
        const char* flags;
        std::vector<std::string> words;  // after --backing-store=
    } cases[] = {
        {"rdwr", "", {"--bstype=rdwr", "--device-type=disk"}},
        {"rdwr", "sync:direct", {"--bstype=rdwr", "--bsoflags=sync:direct", "--device-type=disk"}},
        {"aio", "", {"--bstype=aio", "--device-type=disk"}},
    };
    for (const auto& c : cases) {
        const TgtAdm adm({"/usr/sbin/tgtadm", 7, std::chrono::milliseconds(100)}, {c.store, c.flags});
        const std::vector<std::string> argv = adm.Argv(Make(Op::NewLun, 1, 2, "/d/2.img"));
        const std::vector<std::string> tail(std::find(argv.begin(), argv.end(), "--backing-store=/d/2.img") + 1,
                                            argv.end());
        EXPECT_EQ(tail, c.words) << c.store << " " << c.flags;
    }
}

TEST(TgtAdm, AFailureCarriesTheRequestAndTgtadmsMessage) {
    FakeTgtAdm fake;
    fake.FailOn("--tid=9", "tgtadm: can't find the target");
    const TgtAdmResult result = fake.Adm().Run(Make(Op::DeleteLun, 9, 2));
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.busy);
    EXPECT_EQ(result.text, "tgtadm --mode logicalunit --op delete --tid=9 --lun=2: exit 22: tgtadm: can't find the target");
}

TEST(TgtAdm, StillActiveIsFlaggedBusy) {
    FakeTgtAdm fake;
    fake.FailOn("logicalunit", "tgtadm: this logical unit is still active");
    EXPECT_TRUE(fake.Adm().Run(Make(Op::DeleteLun, 1, 1)).busy);
}

TEST(TgtAdm, AHangingTgtadmIsKilledAndTheCallFails) {
    FakeTgtAdm fake;
    fake.Mode("hang");
    const auto start = std::chrono::steady_clock::now();
    const TgtAdmResult result = fake.Adm(7, 250).Run(Make(Op::ShowTargets));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.text.find("time limit"), std::string::npos) << result.text;
}

TEST(TgtAdm, GarbageForAnAnswerIsAFailureNotAnEmptyList) {
    FakeTgtAdm fake;
    fake.Mode("garbage");
    std::vector<TgtTargetState> targets;
    std::string error;
    EXPECT_FALSE(ReadTargets(fake.Adm(), targets, error));
    EXPECT_NE(error.find("not understood"), std::string::npos) << error;
}

TEST(TgtAdm, AMissingTgtadmFails) {
    const TgtAdm adm({"/nonexistent/tgtadm", 0, std::chrono::milliseconds(1000)});
    const TgtAdmResult result = adm.Run(Make(Op::ShowTargets));
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.text.find("/nonexistent/tgtadm"), std::string::npos) << result.text;
}
