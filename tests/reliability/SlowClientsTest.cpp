// Slow, idle and too many clients against a real zoscsisrv: a frame that is
// not completed within the frame deadline is dropped, a connection that never
// presents a session is dropped too, connections beyond the cap are refused
// as busy, and neither 200 idle connections nor one that trickles a byte a
// second keep a normal client from being served at once.
#include "RawPeer.h"
#include "ServiceClient.h"
#include "ServiceProcess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace zorel;
using Clock = std::chrono::steady_clock;

namespace {

// Served at once: well under the frame deadline and the trickle's minutes,
// with room for a loaded machine and the sanitizers.
constexpr double kPrompt = 2.0;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::unique_ptr<ServiceProcess> Started(std::vector<std::pair<std::string, std::string>> settings) {
    ServiceOptions options;
    options.settings = std::move(settings);
    auto service = std::make_unique<ServiceProcess>(options);
    std::string error;
    EXPECT_TRUE(service->Start(error)) << error;
    PointRegistryAt(*service);
    return service;
}

// A normal client attaches, creates a target and lists, each step quickly.
void NormalClientIsServed(const std::string& name, double withinSeconds) {
    const auto start = Clock::now();
    std::string error;
    std::unique_ptr<ZoScsiSrvClient> client = Attach(error);
    ASSERT_NE(client, nullptr) << error;
    const Outcome created = Classify(client->AddTarget(TargetRequest(name)));
    EXPECT_EQ(created.kind, Outcome::Done) << created.text;
    std::vector<std::string> targets;
    EXPECT_FALSE(client->ListTargets("lt", targets).IsError());
    EXPECT_LT(Since(start), withinSeconds) << name;
}

std::unique_ptr<RawPeer> Validated(const ServiceProcess& service) {
    auto peer = std::make_unique<RawPeer>();
    if (!peer->Connect(service.socketPath()) || !peer->Handshake(service.options().session)) return nullptr;
    return peer;
}

TEST(SlowClients, AnIncompleteFrameIsDroppedAfterTheDeadlineAndOthersAreServedMeanwhile) {
    auto service = Started({{"FrameDeadlineSeconds", "3"}});
    auto torn = Validated(*service);
    ASSERT_NE(torn, nullptr);
    ASSERT_TRUE(torn->Send(RawFrame(64, "<msg v=\"1\"")));  // a frame begun, never finished
    RawPeer silent;
    ASSERT_TRUE(silent.Connect(service->socketPath()));  // never presents a session
    const auto start = Clock::now();

    NormalClientIsServed("meanwhile", kPrompt);
    EXPECT_LT(Since(start), 2.5) << "served while the torn frame was still waited for";
    EXPECT_TRUE(torn->Closed(6000)) << "the torn frame's connection is dropped";
    EXPECT_TRUE(silent.Closed(6000)) << "a connection without a session is dropped";
    EXPECT_GE(Since(start), 2.9) << "not before the deadline";
    EXPECT_LT(Since(start), 6.0);
    NormalClientIsServed("afterwards", kPrompt);
    auto idle = Validated(*service);
    ASSERT_NE(idle, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    ASSERT_TRUE(idle->SendMessage(*SessionRequest(service->options().session)));
    EXPECT_NE(idle->Read(2000), nullptr) << "an idle connection between frames is kept";
}

TEST(SlowClients, TwoHundredIdleConnectionsAndATrickleDoNotHoldUpANormalClient) {
    auto service = Started({});  // the default deadline (30 s): the trickle is slow but in time
    std::vector<std::unique_ptr<RawPeer>> idle;
    for (int i = 0; i < 200; ++i) {
        idle.push_back(Validated(*service));
        ASSERT_NE(idle.back(), nullptr) << "idle connection " << i;
    }
    auto trickle = Validated(*service);
    ASSERT_NE(trickle, nullptr);
    const std::string frame = FrameOf(*SessionRequest(service->options().session));
    std::atomic<bool> stop{false};
    std::thread trickler([&] {
        for (size_t i = 0; i < frame.size() && !stop; ++i) {
            if (!trickle->Send(frame.substr(i, 1))) return;
            for (int t = 0; t < 10 && !stop; ++t) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    for (int round = 0; round < 4; ++round) {
        NormalClientIsServed("normal-" + std::to_string(round), kPrompt);
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
    }
    stop = true;
    trickler.join();
    for (auto& peer : idle) {
        ASSERT_TRUE(peer->SendMessage(*SessionRequest(service->options().session)));
        EXPECT_NE(peer->Read(2000), nullptr) << "idle connections are still served";
    }
}

TEST(SlowClients, AClientThatNeverReadsItsAnswersIsDroppedAndOthersAreServed) {
    auto service = Started({{"FrameDeadlineSeconds", "2"}});
    {
        std::string error;
        std::unique_ptr<ZoScsiSrvClient> filler = Attach(error);
        ASSERT_NE(filler, nullptr) << error;
        for (int i = 0; i < 100; ++i)
            ASSERT_EQ(Classify(filler->AddTarget(TargetRequest("filler-target-" + std::to_string(i)))).kind,
                      Outcome::Done);
    }
    auto deaf = Validated(*service);
    ASSERT_NE(deaf, nullptr);
    const std::string listing = FrameOf(*IoctlRequest("lt", "-h rel"));
    std::atomic<bool> dropped{false};
    const auto start = Clock::now();
    std::thread flood([&] {
        // Requests without end, answers never read: the service's answers back
        // up until one cannot leave within the deadline.
        while (Since(start) < 30) {
            if (!deaf->Send(listing)) {
                dropped = true;
                return;
            }
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    NormalClientIsServed("beside-the-deaf-one", kPrompt);
    flood.join();
    EXPECT_TRUE(dropped) << "the connection that never reads was kept";
    EXPECT_LT(Since(start), 15.0);
    EXPECT_TRUE(service->Running());
    NormalClientIsServed("afterwards", kPrompt);
}

TEST(SlowClients, ConnectionsBeyondTheCapAreRefusedAsBusyUntilOneEnds) {
    auto service = Started({{"MaxConnections", "8"}});
    std::vector<std::unique_ptr<RawPeer>> held;
    // The readiness probe of Started() may still hold a slot for a moment.
    auto validatedSoon = [&] {
        std::unique_ptr<RawPeer> peer;
        for (int i = 0; i < 100 && !peer; ++i) {
            peer = Validated(*service);
            if (!peer) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return peer;
    };
    for (int i = 0; i < 8; ++i) {
        held.push_back(validatedSoon());
        ASSERT_NE(held.back(), nullptr) << "connection " << i;
    }
    RawPeer extra;
    ASSERT_TRUE(extra.Connect(service->socketPath()));
    (void)extra.SendMessage(*SessionRequest(service->options().session));
    const std::unique_ptr<CNMessageBase> refusal = extra.Read(2000);
    ASSERT_NE(refusal, nullptr) << "a refusal with its reason beyond the cap";
    long long number = 0;
    std::string text;
    ASSERT_TRUE(SessionGroupStatus(*refusal, number, text));
    EXPECT_EQ(number, 16);
    EXPECT_NE(text.find("maximum of 8 connections"), std::string::npos) << text;
    EXPECT_TRUE(extra.Closed(2000));
    held.pop_back();
    EXPECT_NE(validatedSoon(), nullptr) << "a slot that frees up is used again";
}

}  // namespace
