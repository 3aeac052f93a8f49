// The client's launch and connection lifecycle: Initialize, Connect,
// IsZoScsiServiceUp and destruction, through the scripted launcher.
#include "ScriptedService.h"

#include "FXErrorUtil.h"
#include "ZODebugFunction.h"
#include "support/CaptureLog.h"

#include <gtest/gtest.h>

using zotest::LastFrame;
using zotest::ScriptedService;

namespace {

const char* const kInitialize = "CYbError ZoScsiSrvClient::Initialize(const string&, const string&, ULONG)";
const char* const kConnect = "CYbError ZoScsiSrvClient::Connect()";
const char* const kIsUp = "bool ZoScsiSrvClient::IsZoScsiServiceUp(bool)";

CYbError LauncherError(const char* text) {
    return FXErrorUtil::ErrorWin32(FXCodeLocation("launcher", "scripted", 1), 1168, "%s", text);
}

}  // namespace

TEST(Initialize, LaunchesForTheClientNameAndConnects) {
    ScriptedService service("node1", false);
    EXPECT_FALSE(service.client->Initialize("node1", "proc", 7).IsError());
    EXPECT_EQ(service.endpoint.LaunchClientNames(), std::vector<std::string>{"node1"});
    EXPECT_EQ(service.endpoint.AttachCount(), 1);
    EXPECT_TRUE(service.client->IsZoScsiServiceUp(false));
    EXPECT_EQ(service.endpoint.SendCalls(), 0) << "launching and attaching send nothing on the connection";
}

TEST(Initialize, ASecondCallLaunchesForTheSecondName) {
    ScriptedService service("first");
    EXPECT_FALSE(service.client->Initialize("second", "proc", 0).IsError());
    EXPECT_EQ(service.endpoint.LaunchClientNames(), (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(service.endpoint.AttachCount(), 2);
}

TEST(Initialize, SubmitFailureIsPushedAndNothingIsAttached) {
    ScriptedService service("node1", false);
    service.endpoint.SetSubmitError(LauncherError("no such service"));
    const CYbError error = service.client->Initialize("node1", "proc", 0);
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(error.Code(), 1168u) << "the launcher's own code";
    EXPECT_EQ(LastFrame(error).file, "ZoScsiSrvClient");
    EXPECT_EQ(LastFrame(error).function, kInitialize);
    EXPECT_EQ(LastFrame(error).text, "ZOOnDemandSvcClient::SubmitTask failed");
    EXPECT_EQ(service.endpoint.AttachCount(), 0);
}

TEST(Initialize, LaunchErrorNumberIs774AndNoAttach) {
    for (long long number : {5LL, -2LL, (1LL << 32) + 5}) {
        SCOPED_TRACE(number);
        ScriptedService service("node1", false);
        service.endpoint.SetLaunchErrorNumber(number);
        const CYbError error = service.client->Initialize("node1", "proc", 0);
        ASSERT_TRUE(error.IsError());
        EXPECT_EQ(error.Code(), 774u);
        EXPECT_EQ(error.Message(), "Failed to launch the ZoScsiSrv Service, error=" +
                                       std::to_string(static_cast<int32_t>(number)));
        EXPECT_EQ(LastFrame(error).function, kInitialize);
        EXPECT_EQ(error.Trail().size(), 1u);
        EXPECT_EQ(service.endpoint.AttachCount(), 0);
    }
}

TEST(Initialize, AttachFailureHasConnectThenInitializeFrames) {
    ScriptedService service("node1", false);
    service.endpoint.SetAttachError(LauncherError("refused"));
    const CYbError error = service.client->Initialize("node1", "proc", 0);
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(error.Code(), 1168u);
    const auto trail = error.Trail();
    ASSERT_EQ(trail.size(), 3u) << error.ToString();
    EXPECT_EQ(trail[1].function, kConnect);
    EXPECT_EQ(trail[1].text, "ZOOnDemandSvcClient::Attach failed");
    EXPECT_EQ(trail[2].function, kInitialize);
    EXPECT_EQ(trail[2].text, "");
    EXPECT_FALSE(service.client->IsZoScsiServiceUp(false));

    // The client stays usable: a later Initialize succeeds.
    service.endpoint.SetAttachError(CYbError::Success());
    EXPECT_FALSE(service.client->Initialize("node1", "proc", 0).IsError());
    EXPECT_TRUE(service.client->IsZoScsiServiceUp(false));
}

TEST(Initialize, TracesOnlyAtLevelOneAndConnectNever) {
    for (int level : {-2, 0, 1}) {
        SCOPED_TRACE(level);
        zotest::ScopedLogCapture log(level);
        ScriptedService service("node1", false);
        long before = ZODebugFunction::Constructed();
        EXPECT_FALSE(service.client->Initialize("node1", "proc", 0).IsError());
        EXPECT_EQ(ZODebugFunction::Constructed() - before, level >= 1 ? 1 : 0);
        before = ZODebugFunction::Constructed();
        EXPECT_FALSE(service.client->Connect().IsError());
        EXPECT_EQ(ZODebugFunction::Constructed() - before, 0);
        EXPECT_EQ(ZODebugFunction::Alive(), 0);
        EXPECT_EQ(log->Count(), 0u) << log->Dump();
    }
}

TEST(Connect, FailureIsPushedWithItsText) {
    ScriptedService service;
    service.endpoint.SetAttachError(LauncherError("refused"));
    const CYbError error = service.client->Connect();
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(LastFrame(error).function, kConnect);
    EXPECT_EQ(LastFrame(error).text, "ZOOnDemandSvcClient::Attach failed");
    EXPECT_EQ(error.Trail().size(), 2u);
}

TEST(IsZoScsiServiceUp, WithoutValidationAsksOnlyTheConnection) {
    zotest::ScopedLogCapture log(1);
    ScriptedService service;
    log->Clear();
    EXPECT_TRUE(service.client->IsZoScsiServiceUp(false));
    service.endpoint.SetConnectionGood(false);
    EXPECT_FALSE(service.client->IsZoScsiServiceUp(false));
    EXPECT_FALSE(service.client->IsZoScsiServiceUp(true));
    EXPECT_EQ(service.endpoint.SendCalls(), 0);
    EXPECT_EQ(log->Count(), 0u);
}

TEST(IsZoScsiServiceUp, ValidationSendsTheSessionAndIgnoresTheAnswer) {
    ScriptedService service("node1", false);
    service.endpoint.SetSessionId("session-42");
    EXPECT_FALSE(service.client->Initialize("node1", "proc", 0).IsError());

    // No answer at all: the receive (with a time limit) times out, still up;
    // but the answer may yet come, so the connection is closed rather than
    // left to hand it to the next request.
    EXPECT_TRUE(service.client->IsZoScsiServiceUp(true));
    EXPECT_EQ(service.OnlyRequest(), "9/51{(1,1) 99c9870:309689='session-42'}");
    EXPECT_FALSE(service.client->IsZoScsiServiceUp(false));
    EXPECT_FALSE(service.client->Initialize("node1", "proc", 0).IsError());

    // An answer is taken off the connection and released unread.
    service.endpoint.QueueReply(zotest::StatusReply(0x9C1E52A, 2, 2, 99));
    const long before = CNMessageBase::LiveCount();
    EXPECT_TRUE(service.client->IsZoScsiServiceUp(true));
    service.Requests();
    EXPECT_EQ(CNMessageBase::LiveCount(), before);
    EXPECT_EQ(service.endpoint.ReceiveCalls(), 2);

    service.endpoint.QueueReceive(zo::InprocEndpoint::ReceiveOutcome::Fail);
    EXPECT_TRUE(service.client->IsZoScsiServiceUp(true)) << "a failed receive is ignored";
}

TEST(IsZoScsiServiceUp, UnsentValidationLogsPerLevelAndIsDown) {
    struct Row {
        int level;
        std::vector<std::string> lines;
    };
    const std::string unable = "Unable to send ValidateODSSessionReq message to on demand service [ods-name]";
    const std::vector<Row> rows = {
        {0, {unable, "Will relaunch new ZOODS PSEUDOMOUNT service"}},
        {-1, {unable}},
        {-2, {}},
    };
    for (zo::InprocEndpoint::SendOutcome outcome :
         {zo::InprocEndpoint::SendOutcome::TimeOut, zo::InprocEndpoint::SendOutcome::Fail}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.level);
            zotest::ScopedLogCapture log(row.level);
            ScriptedService service("node1", false);
            service.endpoint.SetServiceName("ods-name");
            EXPECT_FALSE(service.client->Initialize("node1", "proc", 0).IsError());
            log->Clear();
            service.endpoint.QueueSend(outcome);
            EXPECT_FALSE(service.client->IsZoScsiServiceUp(true));
            EXPECT_EQ(log->Texts(), row.lines);
            const auto lines = log->Lines();
            for (size_t i = 0; i < lines.size(); ++i) {
                EXPECT_EQ(lines[i].level, i == 0 ? -1 : 0);
                EXPECT_EQ(lines[i].function, kIsUp);
            }
            EXPECT_EQ(service.endpoint.ReceiveCalls(), 0);
            EXPECT_EQ(service.endpoint.SubmitCount(), 1) << "nothing is relaunched";
        }
    }
}

TEST(Lifecycle, ANeverInitialisedClientSendsNothingAndFailsInTheSend) {
    ScriptedService service("node1", false);
    const CYbError error =
        service.client->StartScsiService(ZoScsiSrvClientRequest::StartServiceRequest({1, ZoScsiServer::ISCSI, 0}));
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(LastFrame(error).text, "Failed to send StartService request");
    EXPECT_FALSE(service.client->IsZoScsiServiceUp(true));

    const long before = CNMessageBase::LiveCount();
    service.client.reset();
    EXPECT_EQ(CNMessageBase::LiveCount(), before - 2) << "the two launch messages are released";
    EXPECT_EQ(service.endpoint.SendCalls(), 0);
    EXPECT_EQ(service.endpoint.SubmitCount(), 0);
}
