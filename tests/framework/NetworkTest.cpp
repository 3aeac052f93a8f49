// CZoNetwork over real sockets, with a raw socket as the peer so that every
// byte the peer sends or withholds is under the test's control.
#include "CZoNetwork.h"
#include "NetTestSupport.h"
#include "support/CaptureLog.h"
#include "zo/Limits.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using zotest::RawFrame;

std::string Framed(const std::string& payload) { return RawFrame(static_cast<uint32_t>(payload.size()), payload); }

constexpr unsigned long kType = 0x77000001;
constexpr unsigned int kText = 0x11;
constexpr unsigned int kNumber = 0x12;

std::unique_ptr<CNMessageBase> Sample(const std::string& text, long long number = 42) {
    auto message = std::make_unique<CNMessageBase>(77, 5);
    message->setstring(1, 1, text, kType, kText);
    message->setint64(2, 2, number, kType, kNumber);
    return message;
}

// A listening socket and, once a connection is made, the accepted peer.
class RawServer {
public:
    explicit RawServer(bool tcp) {
        if (tcp) {
            m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
            socklen_t length = sizeof address;
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
            m_endpoint = "tcp:127.0.0.1:" + std::to_string(ntohs(address.sin_port));
        } else {
            m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            const std::string path = m_dir / "s";
            std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
            ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
            m_endpoint = "unix:" + path;
        }
        ::listen(m_listen, 4);
    }
    ~RawServer() {
        ClosePeer();
        ::close(m_listen);
    }
    const std::string& Endpoint() const { return m_endpoint; }
    int Accept() { return m_peer = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC); }
    int Peer() const { return m_peer; }
    void ClosePeer() {
        if (m_peer >= 0) ::close(m_peer);
        m_peer = -1;
    }

private:
    zotest::TempDir m_dir;
    int m_listen = -1;
    int m_peer = -1;
    std::string m_endpoint;
};

class NetworkTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { Reconnect(); }

    void Reconnect() {
        server = std::make_unique<RawServer>(GetParam());
        const CYbError error = network.Connect(server->Endpoint(), 5);
        ASSERT_FALSE(error.IsError()) << error.ToString();
        ASSERT_GE(server->Accept(), 0);
    }

    // Receives with the given limit; returns the error and fills the rest.
    CYbError Receive(int timeoutSec, std::unique_ptr<CNMessageBase>& message, bool& timedOut,
                     unsigned long* size = nullptr) {
        CNMessageBase* raw = nullptr;
        const CYbError error = network.ReceiveXMLMessage(size, raw, nullptr, 0, timeoutSec, timedOut);
        message.reset(raw);
        return error;
    }

    // After a failure: not good, and both directions fail at once.
    void ExpectDeadForGood() {
        EXPECT_EQ(network.IsConnectionGood(), 0);
        bool timedOut = true;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(network.SendXMLMessage(*Sample("later"), 0, -1, timedOut).IsError());
        EXPECT_FALSE(timedOut);
        std::unique_ptr<CNMessageBase> message;
        EXPECT_TRUE(Receive(-1, message, timedOut).IsError());
        EXPECT_EQ(message, nullptr);
        EXPECT_LT(zotest::SecondsSince(start), 0.5) << "later calls must fail at once, not wait";
    }

    std::unique_ptr<RawServer> server;
    CZoNetwork network;
};

INSTANTIATE_TEST_SUITE_P(Sockets, NetworkTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Tcp" : "Unix"; });

TEST_P(NetworkTest, RoundTripsMessagesAsOneFrameEach) {
    EXPECT_EQ(network.IsConnectionGood(), 1);
    EXPECT_EQ(network.Endpoint(), server->Endpoint());
    const std::string awkward("bytes \0\x01\xff<&>\n", 12);
    bool timedOut = true;
    ASSERT_FALSE(network.SendXMLMessage(*Sample(awkward), 0, 5, timedOut).IsError());
    EXPECT_FALSE(timedOut);
    std::unique_ptr<CNMessageBase> arrived = zotest::ReadMessage(server->Peer());
    ASSERT_NE(arrived, nullptr);
    EXPECT_EQ(arrived->getstring(1, 1, kType, kText), awkward);

    // Two frames in one write: the second must not be lost with the first.
    const std::string first = zotest::FrameOf(*Sample("one", 1));
    ASSERT_TRUE(zotest::WriteAll(server->Peer(), first + zotest::FrameOf(*Sample("two", 2))));
    for (long long expected : {1, 2}) {
        std::unique_ptr<CNMessageBase> message;
        unsigned long size = 0;
        zosHostProtocolHeader header{7, 7, 7};
        CNMessageBase* raw = nullptr;
        const CYbError error = network.ReceiveXMLMessage(&size, raw, &header, 0, 5, timedOut);
        message.reset(raw);
        ASSERT_FALSE(error.IsError()) << error.ToString();
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->getint64(2, kType, kNumber), expected);
        EXPECT_EQ(size, first.size() - 4) << "the out value is the payload size";
        EXPECT_EQ(header.version + header.flags + header.sequence, 0u) << "the header is zeroed";
    }
    EXPECT_EQ(network.IsConnectionGood(), 1);
}

TEST_P(NetworkTest, FramesOfAnySizeArriveWholeWhenTheyComeTogetherOrInPieces) {
    // Sizes around the connection's read-ahead: within it, just past it (the
    // rest is read through it too), and far past it (read straight into the
    // payload); each followed at once by the next frame in the same write.
    const std::vector<size_t> sizes{10, 4000, 4100, 8200, 200000};
    std::string together;
    for (size_t i = 0; i < sizes.size(); ++i) together += zotest::FrameOf(*Sample(std::string(sizes[i], 'x'), i));
    ASSERT_TRUE(zotest::WriteAll(server->Peer(), together));
    for (size_t i = 0; i < sizes.size(); ++i) {
        std::unique_ptr<CNMessageBase> message;
        bool timedOut = true;
        ASSERT_FALSE(Receive(5, message, timedOut).IsError()) << "frame " << i;
        ASSERT_NE(message, nullptr) << "frame " << i;
        EXPECT_EQ(message->getstring(1, 1, kType, kText).size(), sizes[i]);
        EXPECT_EQ(message->getint64(2, kType, kNumber), static_cast<long long>(i));
    }

    // One frame a few bytes at a time, the header split too.
    const std::string frame = zotest::FrameOf(*Sample("trickled", 9));
    std::thread writer([&] {
        for (size_t at = 0; at < frame.size(); at += 3) {
            zotest::WriteAll(server->Peer(), frame.substr(at, 3));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::unique_ptr<CNMessageBase> message;
    bool timedOut = true;
    const CYbError error = Receive(5, message, timedOut);
    writer.join();
    ASSERT_FALSE(error.IsError()) << error.ToString();
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->getint64(2, kType, kNumber), 9);
    EXPECT_EQ(network.IsConnectionGood(), 1);
}

TEST_P(NetworkTest, AReceiveWithoutATimeLimitWaitsForALateAnswerInPieces) {
    const std::string frame = zotest::FrameOf(*Sample(std::string(6000, 'y'), 5));
    std::thread writer([&] {
        for (size_t at : {size_t{0}, size_t{2}, size_t{3000}}) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const size_t end = at == 0 ? 2 : at == 2 ? 3000 : frame.size();
            zotest::WriteAll(server->Peer(), frame.substr(at, end - at));
        }
    });
    std::unique_ptr<CNMessageBase> message;
    bool timedOut = true;
    const auto start = std::chrono::steady_clock::now();
    const CYbError error = Receive(-1, message, timedOut);
    writer.join();
    ASSERT_FALSE(error.IsError()) << error.ToString();
    EXPECT_FALSE(timedOut);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->getint64(2, kType, kNumber), 5);
    EXPECT_GE(zotest::SecondsSince(start), 0.1) << "it waited for the pieces";
    EXPECT_EQ(network.IsConnectionGood(), 1);
}

TEST_P(NetworkTest, TimeOutAfterPartOfTheNextFrameCameWithTheLastLeavesItNotGood) {
    // The first bytes of the next frame arrive with a whole one: a time-out
    // while waiting for the rest tears the stream, like any mid-frame one.
    const std::string next = zotest::FrameOf(*Sample("next"));
    ASSERT_TRUE(zotest::WriteAll(server->Peer(), zotest::FrameOf(*Sample("whole")) + next.substr(0, 2)));
    std::unique_ptr<CNMessageBase> message;
    bool timedOut = true;
    ASSERT_FALSE(Receive(5, message, timedOut).IsError());
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(network.IsConnectionGood(), 1);
    EXPECT_FALSE(Receive(0, message, timedOut).IsError());
    EXPECT_TRUE(timedOut);
    EXPECT_EQ(message, nullptr);
    ExpectDeadForGood();
}

// The answer a timed-out receive waited for may still come: the connection
// closes, so that it can never pass for the answer to a later request.
TEST_P(NetworkTest, ReceiveTimeOutSetsTheFlagAndClosesTheConnection) {
    for (int limit : {0, 1}) {
        Reconnect();
        std::unique_ptr<CNMessageBase> message;
        bool timedOut = false;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(Receive(limit, message, timedOut).IsError());
        EXPECT_TRUE(timedOut);
        EXPECT_EQ(message, nullptr);
        EXPECT_GE(zotest::SecondsSince(start), limit * 0.9);
        EXPECT_LT(zotest::SecondsSince(start), limit + 2.0);
        zotest::WriteAll(server->Peer(), zotest::FrameOf(*Sample("late")));  // a unix peer sees the close at once
        ExpectDeadForGood();
    }
}

// A receive asked for without a limit gets the configured one, read when the
// connection is made; a value that is not one is logged and leaves none.
TEST_P(NetworkTest, TheConfiguredReceiveLimitBoundsAReceiveWithoutOne) {
    {
        zotest::EnvGuard limit("ZO_RECEIVE_TIMEOUT", "1");
        Reconnect();
    }
    std::unique_ptr<CNMessageBase> message;
    bool timedOut = false;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Receive(-1, message, timedOut).IsError());
    EXPECT_TRUE(timedOut);
    EXPECT_GE(zotest::SecondsSince(start), 0.9);
    EXPECT_EQ(network.IsConnectionGood(), 0);

    for (const char* bad : {"0", "-2", "1.5", "soon", ""}) {
        SCOPED_TRACE(bad);
        zotest::ScopedLogCapture log(-1);
        zotest::EnvGuard limit("ZO_RECEIVE_TIMEOUT", bad);
        Reconnect();
        ASSERT_EQ(log->CountAtLevel(-1), 1u) << log->Dump();
        EXPECT_NE(log->Lines()[0].text.find("ZO_RECEIVE_TIMEOUT"), std::string::npos) << log->Dump();
    }
}

// IsConnectionGood notices a peer that has gone without blocking; input
// that merely waits is no hang-up.
TEST_P(NetworkTest, APeerThatClosedMakesTheConnectionNotGood) {
    ASSERT_TRUE(zotest::WriteAll(server->Peer(), zotest::FrameOf(*Sample("unread"))));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(network.IsConnectionGood(), 1) << "waiting input is no hang-up";
    server->ClosePeer();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(zotest::WaitUntil([&] { return network.IsConnectionGood() == 0; }));
    EXPECT_LT(zotest::SecondsSince(start), 1.0);
    ExpectDeadForGood();
}

TEST_P(NetworkTest, TimeOutMidFrameSetsTheFlagAndLeavesItNotGood) {
    const std::string frame = zotest::FrameOf(*Sample("cut short"));
    ASSERT_TRUE(zotest::WriteAll(server->Peer(), frame.substr(0, frame.size() / 2)));
    std::unique_ptr<CNMessageBase> message;
    bool timedOut = false;
    EXPECT_FALSE(Receive(0, message, timedOut).IsError());
    EXPECT_TRUE(timedOut);
    EXPECT_EQ(message, nullptr);
    ExpectDeadForGood();
}

struct PeerFault {
    const char* name;
    std::string bytes;  // written before the peer closes (or stays)
    bool closeAfter;
};

TEST_P(NetworkTest, PeerFaultsAreErrorsAndLeaveItNotGood) {
    const std::string frame = zotest::FrameOf(*Sample("x"));
    const PeerFault faults[] = {
        {"closed at once", "", true},
        {"closed inside the header", frame.substr(0, 2), true},
        {"closed inside the payload", frame.substr(0, frame.size() - 3), true},
        {"zero length", RawFrame(0, ""), false},
        {"length above the limit", RawFrame(0xFFFFFFFFu, "x"), false},
        {"payload that is not XML", Framed("not xml!!"), false},
        {"XML of no message", Framed("<other a=\"\"/>"), false},
    };
    // With a time limit the connection polls; without one it blocks in the
    // read itself: both see every fault.
    for (const PeerFault& fault : faults) {
        for (const int limit : {5, -1}) {
            SCOPED_TRACE(std::string(fault.name) + (limit < 0 ? ", no time limit" : ", with a time limit"));
            Reconnect();
            ASSERT_TRUE(zotest::WriteAll(server->Peer(), fault.bytes));
            if (fault.closeAfter) server->ClosePeer();
            std::unique_ptr<CNMessageBase> message;
            bool timedOut = true;
            const CYbError error = Receive(limit, message, timedOut);
            EXPECT_TRUE(error.IsError());
            EXPECT_FALSE(timedOut);
            EXPECT_EQ(message, nullptr);
            ExpectDeadForGood();
        }
    }
}

TEST_P(NetworkTest, FrameLimitAppliesToBothDirections) {
    zo::DecodeLimits limits;
    limits.maxFrameBytes = 200;
    network.SetLimits(limits);
    // Too big to send: refused before a byte goes out, and still good.
    bool timedOut = true;
    EXPECT_TRUE(network.SendXMLMessage(*Sample(std::string(1000, 'a')), 0, 5, timedOut).IsError());
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(network.IsConnectionGood(), 1);
    pollfd p{server->Peer(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 50), 0) << "nothing was sent";
    // Too big to receive: an error as soon as the header is in.
    ASSERT_TRUE(zotest::WriteAll(server->Peer(), RawFrame(201, "")));
    std::unique_ptr<CNMessageBase> message;
    EXPECT_TRUE(Receive(5, message, timedOut).IsError());
    ExpectDeadForGood();
}

TEST_P(NetworkTest, WritingToAClosedPeerRaisesNoSignal) {
    // With the default disposition a SIGPIPE would end this test program.
    struct sigaction previous {};
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &standard, &previous);
    server->ClosePeer();
    CYbError error;
    bool timedOut = false;
    for (int i = 0; i < 50 && !error.IsError(); ++i)
        error = network.SendXMLMessage(*Sample(std::string(64 << 10, 'p')), 0, 5, timedOut);
    ::sigaction(SIGPIPE, &previous, nullptr);
    EXPECT_TRUE(error.IsError()) << "the closed peer shows as an error";
    EXPECT_FALSE(timedOut);
    ExpectDeadForGood();
}

TEST_P(NetworkTest, SendTimeOutWithPartOfTheFrameOutLeavesItNotGood) {
    // The peer reads nothing, so a big frame cannot leave in time.
    bool timedOut = false;
    const CYbError error = network.SendXMLMessage(*Sample(std::string(12 << 20, 's')), 0, 0, timedOut);
    EXPECT_FALSE(error.IsError()) << error.ToString();
    EXPECT_TRUE(timedOut);
    EXPECT_EQ(network.IsConnectionGood(), 0) << "the peer would see a torn frame";
}

TEST(Network, ConnectRejectsBadOrUnreachableEndpoints) {
    zotest::TempDir dir;
    const char* endpoints[] = {
        "", "unix:", "tcp:", "tcp:127.0.0.1", "tcp::80", "tcp:127.0.0.1:99999", "tcp:127.0.0.1:8x",
        "tcp:[::1", "ftp:host", "inproc:", "inproc:nobody-registered-this", "unix:/nonexistent-zo/socket",
    };
    for (const char* endpoint : endpoints) {
        SCOPED_TRACE(endpoint);
        CZoNetwork network;
        EXPECT_TRUE(network.Connect(endpoint, 1).IsError());
        EXPECT_EQ(network.IsConnectionGood(), 0);
    }
    CZoNetwork network;
    EXPECT_TRUE(network.Connect("unix:" + std::string(200, 'p'), 1).IsError()) << "longer than a socket address";
    EXPECT_TRUE(network.Connect("unix:" + dir / "nothing-listens", 1).IsError());
}

TEST(Network, AnUnconnectedConnectionFailsAtOnce) {
    CZoNetwork network;
    EXPECT_EQ(network.IsConnectionGood(), 0);
    bool timedOut = true;
    auto message = Sample("x");
    EXPECT_TRUE(network.SendXMLMessage(*message, 0, -1, timedOut).IsError());
    EXPECT_FALSE(timedOut);
    CNMessageBase* received = reinterpret_cast<CNMessageBase*>(0x1);
    EXPECT_TRUE(network.ReceiveXMLMessage(nullptr, received, nullptr, 0, -1, timedOut).IsError());
    EXPECT_EQ(received, nullptr);
}

}  // namespace
