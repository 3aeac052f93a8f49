// The scripted in-process peer: every outcome a caller must handle, reached
// without real waiting, and what it records is what crossed as bytes.
#include "CNSession.h"
#include "CZoNetwork.h"
#include "FXErrorUtil.h"
#include "NetTestSupport.h"
#include "ZOOnDemandSvcClient.h"
#include "zo/InprocEndpoint.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>

namespace {

using zo::InprocEndpoint;
namespace W = CNSession::Wire;

constexpr unsigned long kType = 0x77000001;
constexpr unsigned int kText = 0x11;

std::unique_ptr<CNMessageBase> Text(const std::string& text, int id = 5) {
    auto message = std::make_unique<CNMessageBase>(77, id);
    message->setstring(1, 1, text, kType, kText);
    return message;
}

std::string TextOf(const CNMessageBase& message) { return message.getstring(1, 1, kType, kText); }

std::string UniqueName() {
    static int counter = 0;
    return "inproc-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

class InprocTest : public ::testing::Test {
protected:
    InprocTest() : endpoint(UniqueName()) {}
    void SetUp() override {
        const CYbError error = network.Connect(endpoint.Endpoint(), 0);
        ASSERT_FALSE(error.IsError()) << error.ToString();
    }

    CYbError Send(const std::string& text, bool& timedOut) {
        return network.SendXMLMessage(*Text(text), 0, 300, timedOut);
    }
    CYbError Receive(int timeoutSec, std::unique_ptr<CNMessageBase>& message, bool& timedOut) {
        CNMessageBase* raw = nullptr;
        const CYbError error = network.ReceiveXMLMessage(nullptr, raw, nullptr, 0, timeoutSec, timedOut);
        message.reset(raw);
        return error;
    }

    InprocEndpoint endpoint;
    CZoNetwork network;
};

TEST_F(InprocTest, SendOutcomesAreTakenInOrderThenDeliverIsTheDefault) {
    struct Row {
        InprocEndpoint::SendOutcome outcome;
        bool error;
        bool timedOut;
        bool delivered;
        bool goodAfter;
    };
    const Row rows[] = {
        {InprocEndpoint::SendOutcome::Deliver, false, false, true, true},
        {InprocEndpoint::SendOutcome::TimeOut, false, true, false, true},
        {InprocEndpoint::SendOutcome::Fail, true, false, false, false},
        {InprocEndpoint::SendOutcome::FailWithTimeOutFlag, true, true, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.outcome));
        SetUp();
        endpoint.TakeRequests();
        endpoint.QueueSend(row.outcome);
        bool timedOut = !row.timedOut;
        EXPECT_EQ(Send("one", timedOut).IsError(), row.error);
        EXPECT_EQ(timedOut, row.timedOut);
        EXPECT_EQ(endpoint.RequestCount(), row.delivered ? 1u : 0u);
        EXPECT_EQ(network.IsConnectionGood() != 0, row.goodAfter);
    }
    SetUp();
    bool timedOut = true;
    EXPECT_FALSE(Send("default", timedOut).IsError());
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(endpoint.SendCalls(), 5);
}

TEST_F(InprocTest, ReceiveOutcomesAndTheMissingReply) {
    // Nothing to answer: with a limit it times out at once, without one it fails.
    std::unique_ptr<CNMessageBase> message;
    bool timedOut = false;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Receive(300, message, timedOut).IsError());
    EXPECT_TRUE(timedOut);
    EXPECT_LT(zotest::SecondsSince(start), 0.5);
    // A receive that timed out closes the connection: the answer it waited
    // for may still come and must never pass for a later request's.
    EXPECT_EQ(network.IsConnectionGood(), 0);
    SetUp();
    EXPECT_TRUE(Receive(-1, message, timedOut).IsError());
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(network.IsConnectionGood(), 0);

    // Scripted time-out and failure.
    SetUp();
    endpoint.QueueReceive(InprocEndpoint::ReceiveOutcome::TimeOut);
    EXPECT_FALSE(Receive(-1, message, timedOut).IsError());
    EXPECT_TRUE(timedOut);
    EXPECT_EQ(network.IsConnectionGood(), 0);
    SetUp();
    endpoint.QueueReceive(InprocEndpoint::ReceiveOutcome::Fail);
    EXPECT_TRUE(Receive(300, message, timedOut).IsError());
    EXPECT_EQ(message, nullptr);
    EXPECT_EQ(network.IsConnectionGood(), 0);
    EXPECT_EQ(endpoint.ReceiveCalls(), 4);
}

TEST_F(InprocTest, RecordedRequestsAreDecodedCopiesOfWhatCrossed) {
    const std::string awkward("\0\x01\x7f\xfe\xff]]>&<", 10);
    auto request = Text(awkward);
    bool timedOut = false;
    ASSERT_FALSE(network.SendXMLMessage(*request, 0, 300, timedOut).IsError());
    request->setstring(1, 1, "changed after the send", kType, kText);
    auto recorded = endpoint.TakeRequests();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_NE(recorded[0].get(), request.get());
    EXPECT_EQ(recorded[0]->Group(), 77);
    EXPECT_EQ(recorded[0]->Id(), 5);
    EXPECT_EQ(TextOf(*recorded[0]), awkward);
    EXPECT_EQ(endpoint.RequestCount(), 0u) << "taken requests are gone";
}

TEST_F(InprocTest, QueuedRepliesComeBeforeTheResponder) {
    int asked = 0;
    endpoint.SetResponder([&](const CNMessageBase& request) -> std::unique_ptr<CNMessageBase> {
        ++asked;
        if (TextOf(request) == "silent") return nullptr;
        return Text("echo " + TextOf(request));
    });
    endpoint.QueueReply(Text("queued"));
    const std::pair<const char*, const char*> exchanges[] = {{"a", "queued"}, {"b", "echo b"}, {"c", "echo c"}};
    for (const auto& exchange : exchanges) {
        auto request = Text(exchange.first);
        auto answer = zotest::Exchange(network, *request);
        ASSERT_NE(answer, nullptr) << exchange.first;
        EXPECT_EQ(TextOf(*answer), exchange.second);
    }
    EXPECT_EQ(asked, 2);
    auto silent = Text("silent");
    EXPECT_EQ(zotest::Exchange(network, *silent), nullptr) << "a null from the responder is no reply";
}

TEST_F(InprocTest, ConnectionsFollowTheEndpointsHealth) {
    endpoint.SetConnectionGood(false);
    EXPECT_EQ(network.IsConnectionGood(), 0);
    bool timedOut = false;
    EXPECT_TRUE(Send("x", timedOut).IsError());
    endpoint.SetConnectionGood(true);
    SetUp();
    EXPECT_EQ(network.IsConnectionGood(), 1);

    auto doomed = std::make_unique<InprocEndpoint>(UniqueName());
    CZoNetwork other;
    ASSERT_FALSE(other.Connect(doomed->Endpoint(), 0).IsError());
    const std::string name = doomed->Endpoint().substr(7);
    EXPECT_EQ(InprocEndpoint::Lookup(name).get(), doomed.get());
    doomed.reset();
    EXPECT_EQ(other.IsConnectionGood(), 0);
    EXPECT_EQ(InprocEndpoint::Lookup(name), nullptr);
    EXPECT_TRUE(other.Connect("inproc:" + name, 0).IsError());
}

// The launcher side, reached through the registry's environment override.
class InprocLaunchTest : public InprocTest {
protected:
    InprocLaunchTest() : route("ZO_SERVICE_InprocSvc", endpoint.Endpoint()) {}

    CYbError Submit(const std::string& client) {
        CNSession::LaunchOnDemandServiceReq request;
        request.setstring(2, 5, "InprocSvc", W::kLaunchReqType, W::kLaunchReqServiceName);
        request.setstring(1, 1, client, W::kLaunchReqType, W::kLaunchReqClientName);
        return launcher.SubmitTask(request, details);
    }
    long long ErrorNumber() { return details.getint64(1, W::kLaunchDetailsType, W::kDetailsErrorNumber); }
    std::string DetailsString(short a, short b, unsigned int key) {
        return details.getstring(a, b, W::kLaunchDetailsType, key);
    }

    zotest::EnvGuard route;
    ZOOnDemandSvcClient launcher;
    CNSession::LaunchOnDemandServiceDetails details;
};

TEST_F(InprocLaunchTest, SubmitFillsTheScriptedDetails) {
    ASSERT_FALSE(Submit("node1").IsError());
    EXPECT_EQ(ErrorNumber(), 0);
    EXPECT_EQ(DetailsString(3, 6, W::kDetailsSessionId), "inproc-session");
    EXPECT_EQ(DetailsString(2, 2, W::kDetailsServiceName), "InprocSvc");
    EXPECT_EQ(DetailsString(4, 4, W::kDetailsEndpoint), endpoint.Endpoint());

    endpoint.SetLaunchErrorNumber(5);
    endpoint.SetSessionId("s-9");
    endpoint.SetServiceName("renamed");
    ASSERT_FALSE(Submit("node2").IsError());
    EXPECT_EQ(ErrorNumber(), 5);
    EXPECT_EQ(DetailsString(3, 6, W::kDetailsSessionId), "s-9");
    EXPECT_EQ(DetailsString(2, 2, W::kDetailsServiceName), "renamed");

    endpoint.SetSubmitError(FXErrorUtil::ErrorWin32(FX_HERE("test", "test"), 774, "scripted"));
    EXPECT_TRUE(Submit("node3").IsError());
    EXPECT_EQ(endpoint.SubmitCount(), 3);
    EXPECT_EQ(endpoint.LaunchClientNames(), (std::vector<std::string>{"node1", "node2", "node3"}));
}

TEST_F(InprocLaunchTest, AttachIsDecidedByTheEndpointAndSendsNothing) {
    ASSERT_FALSE(Submit("node1").IsError());
    CZoNetwork attached;
    ASSERT_FALSE(launcher.Attach(details, attached).IsError());
    EXPECT_EQ(attached.IsConnectionGood(), 1);
    EXPECT_EQ(endpoint.SendCalls(), 0);

    endpoint.SetAttachError(FXErrorUtil::ErrorWin32(FX_HERE("test", "test"), 774, "refused"));
    CZoNetwork refused;
    EXPECT_TRUE(launcher.Attach(details, refused).IsError());
    EXPECT_EQ(refused.IsConnectionGood(), 0);
    EXPECT_EQ(endpoint.AttachCount(), 2);
}

TEST_F(InprocLaunchTest, AnEntryNamingNoEndpointIsALaunchFailure) {
    zotest::EnvGuard nowhere("ZO_SERVICE_InprocSvc", "inproc:nobody-here");
    ASSERT_FALSE(Submit("node1").IsError());
    EXPECT_NE(ErrorNumber(), 0);
    EXPECT_EQ(endpoint.SubmitCount(), 0);
}

}  // namespace
