// zo::ServiceListener on real sockets: the session gate, hostile and slow
// peers, the connection cap, socket modes, readiness, idle exit and Stop().
#include "CNSession.h"
#include "CZoNetwork.h"
#include "NetTestSupport.h"
#include "zo/ServiceListener.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace W = CNSession::Wire;
using zotest::PeerClosed;
using zotest::RawFrame;
using zotest::ReadMessage;
using zotest::StatusNumber;
using zotest::Text;
using zotest::TextOf;
using zotest::WriteAll;

constexpr const char* kSession = "0123456789abcdef0123456789abcdef";

std::string Framed(const std::string& payload) { return RawFrame(static_cast<uint32_t>(payload.size()), payload); }

bool IsMessage(const CNMessageBase* message, int id) { return message && message->Group() == 9 && message->Id() == id; }

int FileMode(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

class ListenerTest : public ::testing::Test {
protected:
    zo::ListenerOptions Options() {
        zo::ListenerOptions options;
        options.endpoint = "unix:" + SocketPath();
        options.sessionId = kSession;
        options.frameDeadlineSec = 1;
        return options;
    }
    std::string SocketPath() const { return dir / "run/socket"; }

    // Starts a listener (echoing handler) and runs it on a thread.
    void Start(const zo::ListenerOptions& options) {
        listener = std::make_unique<zo::ServiceListener>(
            options, [this](const CNMessageBase& request, const zo::PeerInfo& peer) -> std::unique_ptr<CNMessageBase> {
                ++handled;
                {
                    std::lock_guard<std::mutex> lock(peerMutex);
                    lastPeer = peer;
                }
                if (TextOf(request) == "throw") throw std::runtime_error("handler failure");
                return Text("echo " + TextOf(request));
            });
        const CYbError error = listener->Start();
        ASSERT_FALSE(error.IsError()) << error.ToString();
        runner = std::thread([this] {
            listener->Run();
            runEnded = true;
        });
    }

    void TearDown() override {
        if (listener) listener->Stop();
        if (runner.joinable()) runner.join();
        listener.reset();
    }

    // A connection that presented the right session.
    std::unique_ptr<CZoNetwork> Client() {
        auto network = std::make_unique<CZoNetwork>();
        EXPECT_FALSE(network->Connect(listener->BoundEndpoint(), 5).IsError());
        auto answer = zotest::Exchange(*network, *zotest::ValidateRequest(kSession));
        EXPECT_TRUE(IsMessage(answer.get(), W::kValidateRespId));
        EXPECT_EQ(StatusNumber(answer.get()), 0);
        return network;
    }

    // A raw socket that presented the right session.
    int RawClient() {
        const int fd = zotest::ConnectRawUnix(SocketPath());
        EXPECT_TRUE(WriteAll(fd, zotest::FrameOf(*zotest::ValidateRequest(kSession))));
        EXPECT_EQ(StatusNumber(ReadMessage(fd).get()), 0);
        return fd;
    }

    void ExpectServed(CZoNetwork& network, const std::string& text) {
        auto answer = zotest::Exchange(network, *Text(text));
        ASSERT_NE(answer, nullptr);
        EXPECT_EQ(TextOf(*answer), "echo " + text);
    }

    zotest::TempDir dir{"listener"};
    std::unique_ptr<zo::ServiceListener> listener;
    std::thread runner;
    std::atomic<bool> runEnded{false};
    std::atomic<int> handled{0};
    std::mutex peerMutex;
    zo::PeerInfo lastPeer;
};

TEST_F(ListenerTest, ServesAfterTheSessionAndAnswersLaterValidationsItself) {
    Start(Options());
    auto client = Client();
    ExpectServed(*client, "one");
    auto again = zotest::Exchange(*client, *zotest::ValidateRequest(kSession));
    EXPECT_EQ(StatusNumber(again.get()), 0);
    ExpectServed(*client, "two");
    EXPECT_EQ(handled.load(), 2) << "validations never reach the handler";
    // Counted once the answer is out, which may be just after the client has it.
    EXPECT_TRUE(zotest::WaitUntil([&] { return listener->ServedRequests() == 4; }));
    std::lock_guard<std::mutex> lock(peerMutex);
    EXPECT_EQ(lastPeer.pid, ::getpid());
    EXPECT_EQ(lastPeer.uid, static_cast<int>(::geteuid()));
    EXPECT_EQ(lastPeer.address, "unix");
}

TEST_F(ListenerTest, AnswersRequestsThatArriveTogetherEachInTurn) {
    Start(Options());
    // The session and two requests in one write: the later frames are read
    // with the first and must be served without waiting for more input.
    const int fd = zotest::ConnectRawUnix(SocketPath());
    ASSERT_TRUE(WriteAll(fd, zotest::FrameOf(*zotest::ValidateRequest(kSession)) + zotest::FrameOf(*Text("a")) +
                                 zotest::FrameOf(*Text("b"))));
    EXPECT_EQ(StatusNumber(ReadMessage(fd).get()), 0);
    auto expectAnswers = [fd](const std::vector<std::string>& texts) {
        for (const std::string& text : texts) {
            auto answer = ReadMessage(fd, 3000);
            ASSERT_NE(answer, nullptr) << "no answer to a request of " << text.size() << " bytes";
            EXPECT_EQ(TextOf(*answer), "echo " + text);
        }
    };
    expectAnswers({"a", "b"});
    // Then a large request with a small one behind it.
    const std::string large(10000, 'c');
    ASSERT_TRUE(WriteAll(fd, zotest::FrameOf(*Text(large)) + zotest::FrameOf(*Text("d"))));
    expectAnswers({large, "d"});
    ::close(fd);
}

TEST_F(ListenerTest, RefusesAMissingOrWrongSessionBeforeAnyHandlerCall) {
    Start(Options());
    const std::pair<const char*, std::unique_ptr<CNMessageBase>> firsts[] = {
        {"a request without a session", Text("sneaky")},
        {"a wrong session", zotest::ValidateRequest("0123456789abcdef0123456789abcdeX")},
        {"a shorter session", zotest::ValidateRequest("0123")},
        {"an empty session", zotest::ValidateRequest("")},
    };
    for (const auto& first : firsts) {
        SCOPED_TRACE(first.first);
        const int fd = zotest::ConnectRawUnix(SocketPath());
        ASSERT_TRUE(WriteAll(fd, zotest::FrameOf(*first.second)));
        auto answer = ReadMessage(fd);
        EXPECT_TRUE(IsMessage(answer.get(), W::kValidateRespId));
        EXPECT_GT(StatusNumber(answer.get()), 0);
        EXPECT_TRUE(PeerClosed(fd)) << "refused connections are closed";
        ::close(fd);
    }
    // A wrong session after a right one also ends the connection.
    auto client = Client();
    auto refused = zotest::Exchange(*client, *zotest::ValidateRequest("wrong"));
    EXPECT_GT(StatusNumber(refused.get()), 0);
    EXPECT_EQ(zotest::Exchange(*client, *Text("after")), nullptr);
    EXPECT_EQ(handled.load(), 0);
}

TEST_F(ListenerTest, AnswersUndecodableFramesWithAProtocolErrorAndCloses) {
    Start(Options());
    const std::pair<const char*, std::string> frames[] = {
        {"zero length", RawFrame(0, "")},
        {"length 0xFFFFFFFF", RawFrame(0xFFFFFFFFu, "")},
        {"length one above the limit", RawFrame(static_cast<uint32_t>(zo::DecodeLimits().maxFrameBytes + 1), "abc")},
        {"not XML", Framed("\x01\x02garbage")},
        {"a DOCTYPE", Framed("<!DOCTYPE msg [<!ENTITY e \"x\">]><msg v=\"1\" g=\"9\" id=\"51\"/>")},
        {"invalid UTF-8 in a name", Framed("<msg\xff v=\"1\"/>")},
    };
    for (const auto& frame : frames) {
        SCOPED_TRACE(frame.first);
        const int fd = zotest::ConnectRawUnix(SocketPath());
        ASSERT_TRUE(WriteAll(fd, frame.second));
        auto answer = ReadMessage(fd);
        EXPECT_TRUE(IsMessage(answer.get(), W::kProtocolErrorId));
        EXPECT_EQ(StatusNumber(answer.get()), 71);
        EXPECT_TRUE(PeerClosed(fd));
        ::close(fd);
    }
    // A stream that ends inside a frame gets no answer, only the close.
    const int fd = RawClient();
    ASSERT_TRUE(WriteAll(fd, RawFrame(100, "partial")));
    ::shutdown(fd, SHUT_WR);
    EXPECT_EQ(ReadMessage(fd), nullptr);
    ::close(fd);
    EXPECT_EQ(handled.load(), 0);
    auto client = Client();
    ExpectServed(*client, "still served");
}

TEST_F(ListenerTest, AHandlerWithoutAnAnswerStillAnswers) {
    Start(Options());
    auto client = Client();
    auto answer = zotest::Exchange(*client, *Text("throw"));
    EXPECT_TRUE(IsMessage(answer.get(), W::kProtocolErrorId));
    EXPECT_GT(StatusNumber(answer.get()), 0);
}

TEST_F(ListenerTest, DropsSlowAndSilentClientsAfterTheDeadlineWhileServingOthers) {
    Start(Options());
    const int slow = RawClient();
    ASSERT_TRUE(WriteAll(slow, std::string("\0\0", 2)));  // half a header, then nothing
    const int silent = zotest::ConnectRawUnix(SocketPath());  // never presents a session
    const auto start = std::chrono::steady_clock::now();

    auto client = Client();
    ExpectServed(*client, "meanwhile");
    EXPECT_LT(zotest::SecondsSince(start), 0.5) << "others are served while the slow ones wait";

    EXPECT_TRUE(PeerClosed(slow, 4000));
    EXPECT_TRUE(PeerClosed(silent, 4000));
    EXPECT_GE(zotest::SecondsSince(start), 0.9);
    ExpectServed(*client, "an idle validated client is kept");
    ::close(slow);
    ::close(silent);
}

TEST_F(ListenerTest, ManyIdleConnectionsDoNotHoldUpANormalClient) {
    Start(Options());
    std::vector<int> idle;
    for (int i = 0; i < 200; ++i) idle.push_back(RawClient());
    const int trickle = RawClient();
    ASSERT_TRUE(WriteAll(trickle, std::string("\0", 1)));  // a byte, then a long pause
    const auto start = std::chrono::steady_clock::now();
    auto client = Client();
    ExpectServed(*client, "among 201 others");
    EXPECT_LT(zotest::SecondsSince(start), 1.0);
    EXPECT_EQ(listener->ActiveConnections(), 202);
    for (int fd : idle) ::close(fd);
    ::close(trickle);
}

TEST_F(ListenerTest, CapsConnectionsAndAcceptsAgainWhenOneEnds) {
    zo::ListenerOptions options = Options();
    options.maxConnections = 2;
    Start(options);
    auto first = Client();
    auto second = Client();
    const int extra = zotest::ConnectRawUnix(SocketPath());
    WriteAll(extra, zotest::FrameOf(*zotest::ValidateRequest(kSession)));
    auto refusal = ReadMessage(extra, 2000);
    EXPECT_EQ(StatusNumber(refusal.get()), 16) << "busy beyond the cap";
    EXPECT_NE(zotest::StatusText(refusal.get()).find("maximum of 2 connections"), std::string::npos);
    EXPECT_TRUE(PeerClosed(extra));
    ::close(extra);
    first.reset();
    ASSERT_TRUE(zotest::WaitUntil([&] { return listener->ActiveConnections() == 1; }));
    auto third = Client();
    ExpectServed(*third, "after one ended");
    ExpectServed(*second, "the others stay");
}

TEST_F(ListenerTest, ConnectionsWithoutASessionHaveSlotsAndADeadlineOfTheirOwn) {
    zo::ListenerOptions options = Options();
    options.endpoint = "tcp:127.0.0.1:0";
    options.maxConnections = 2;
    options.maxPending = 3;
    options.maxPendingPerPeer = 2;
    options.frameDeadlineSec = 5;
    options.sessionDeadlineSec = 1;
    Start(options);
    auto validated = Client();
    std::vector<int> strangers;
    for (const char* source : {"127.0.0.2", "127.0.0.2", "127.0.0.3"}) {
        strangers.push_back(zotest::ConnectRawTcp(listener->BoundEndpoint(), source));
        ASSERT_GE(strangers.back(), 0);
    }
    ASSERT_TRUE(zotest::WaitUntil([&] { return listener->PendingConnections() == 3; }));
    // Beyond the address's slots, then beyond all of them: closed at once.
    for (const char* source : {"127.0.0.2", "127.0.0.4"}) {
        SCOPED_TRACE(source);
        const int refused = zotest::ConnectRawTcp(listener->BoundEndpoint(), source);
        EXPECT_TRUE(PeerClosed(refused, 500));
        ::close(refused);
    }
    EXPECT_EQ(listener->RefusedPending(), 2);
    ExpectServed(*validated, "while strangers hold every pending slot");
    const auto start = std::chrono::steady_clock::now();
    for (int fd : strangers) EXPECT_TRUE(PeerClosed(fd, 3000));
    EXPECT_LT(zotest::SecondsSince(start), 2.0) << "the session deadline, not the frame deadline";
    for (int fd : strangers) ::close(fd);
    auto second = Client();
    ExpectServed(*second, "once the strangers are gone");
}

TEST_F(ListenerTest, PlainTcpOnlyOnLoopbackUnlessAllowed) {
    const struct {
        const char* endpoint;
        bool allow;
        bool listens;
    } rows[] = {
        {"tcp:0.0.0.0:0", false, false}, {"tcp:0.0.0.0:0", true, true}, {"tcp:127.0.0.9:0", false, true},
        {"tcp:[::1]:0", false, true},    {"tcp:localhost:0", false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.endpoint);
        zo::ListenerOptions options = Options();
        options.endpoint = row.endpoint;
        options.allowPlainTcp = row.allow;
        zo::ServiceListener candidate(options, [](const CNMessageBase&, const zo::PeerInfo&) { return Text(""); });
        const CYbError error = candidate.Start();
        EXPECT_EQ(!error.IsError(), row.listens) << error.ToString();
        if (!row.listens) {
            EXPECT_NE(error.Message().find("not a loopback address"), std::string::npos);
        }
    }
}

TEST_F(ListenerTest, UnixSocketIs0600InA0700FolderAndIsNotStolen) {
    Start(Options());
    EXPECT_EQ(FileMode(SocketPath()), 0600);
    EXPECT_EQ(FileMode(dir / "run"), 0700);
    EXPECT_EQ(listener->BoundEndpoint(), "unix:" + SocketPath());

    zo::ServiceListener second(Options(), [](const CNMessageBase&, const zo::PeerInfo&) { return Text(""); });
    EXPECT_TRUE(second.Start().IsError()) << "a live socket is not taken over";
    auto client = Client();
    ExpectServed(*client, "first still serves");

    ASSERT_EQ(::mkdir((dir / "open").c_str(), 0755), 0);
    ::chmod((dir / "open").c_str(), 0755);
    zo::ListenerOptions open = Options();
    open.endpoint = "unix:" + dir / "open/socket";
    zo::ServiceListener exposed(open, [](const CNMessageBase&, const zo::PeerInfo&) { return Text(""); });
    EXPECT_TRUE(exposed.Start().IsError()) << "a folder others can enter is refused";
}

TEST_F(ListenerTest, ReplacesTheSocketFileOfADeadServiceAndRemovesItsOwn) {
    ASSERT_EQ(::mkdir((dir / "run").c_str(), 0700), 0);
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, SocketPath().c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(stale);  // the file stays, nobody listens

    Start(Options());
    auto client = Client();
    ExpectServed(*client, "on the replaced socket");
    client.reset();
    TearDown();
    EXPECT_EQ(FileMode(SocketPath()), -1) << "the listener removes its socket file";
}

TEST_F(ListenerTest, ServesTcpAndReportsTheRealPortAndPeer) {
    zo::ListenerOptions options = Options();
    options.endpoint = "tcp:127.0.0.1:0";
    Start(options);
    const std::string bound = listener->BoundEndpoint();
    EXPECT_EQ(bound.rfind("tcp:127.0.0.1:", 0), 0u) << bound;
    EXPECT_NE(bound, "tcp:127.0.0.1:0");
    auto client = Client();
    ExpectServed(*client, "over tcp");
    std::lock_guard<std::mutex> lock(peerMutex);
    EXPECT_EQ(lastPeer.address.rfind("127.0.0.1:", 0), 0u) << lastPeer.address;
    EXPECT_EQ(lastPeer.uid, -1);
}

TEST_F(ListenerTest, SignalsReadinessOnTheDescriptorAndTheFile) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    zo::ListenerOptions options = Options();
    options.readyFd = ready[1];
    options.readyFile = dir / "ready";
    Start(options);
    char buffer[4] = {};
    EXPECT_EQ(::read(ready[0], buffer, sizeof buffer), 1);
    EXPECT_EQ(buffer[0], 'R');
    EXPECT_EQ(::read(ready[0], buffer, sizeof buffer), 0) << "the descriptor is closed after R";
    ::close(ready[0]);
    EXPECT_EQ(FileMode(dir / "ready"), 0600);
}

TEST_F(ListenerTest, IdleExitEndsRunOnlyWhileNoConnectionIsOpen) {
    zo::ListenerOptions options = Options();
    options.idleExitSec = 1;
    Start(options);
    auto client = Client();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_FALSE(runEnded.load()) << "an open connection keeps the service";
    const auto closed = std::chrono::steady_clock::now();
    client.reset();
    EXPECT_TRUE(zotest::WaitUntil([&] { return runEnded.load(); }, std::chrono::milliseconds(4000)));
    EXPECT_GE(zotest::SecondsSince(closed), 0.9);
}

zo::ServiceListener* g_signalled = nullptr;
extern "C" void StopOnSignal(int) { g_signalled->Stop(); }

TEST_F(ListenerTest, StopWorksFromASignalHandler) {
    Start(Options());
    auto client = Client();
    g_signalled = listener.get();
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = StopOnSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGUSR1, &action, &previous);
    ::kill(::getpid(), SIGUSR1);
    EXPECT_TRUE(zotest::WaitUntil([&] { return runEnded.load(); }, std::chrono::milliseconds(3000)));
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(listener->ActiveConnections(), 0) << "Run ends its connections before it returns";
}

TEST_F(ListenerTest, RefusesAUnixPeerOfAnotherUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    Start(Options());
    // Open the file modes so only the credential check stands in the way.
    ::chmod((dir.Path()).c_str(), 0755);
    ::chmod((dir / "run").c_str(), 0755);
    ::chmod(SocketPath().c_str(), 0666);
    const std::string frame = zotest::FrameOf(*zotest::ValidateRequest(kSession));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, SocketPath().c_str(), sizeof address.sun_path - 1);
    const pid_t child = ::fork();
    if (child == 0) {
        // Only system calls here: the parent has other threads.
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(3);
        (void)!::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
        pollfd p{fd, POLLIN, 0};
        char byte;
        const bool answered = ::poll(&p, 1, 3000) > 0 && ::recv(fd, &byte, 1, 0) > 0;
        ::_exit(answered ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: answered, 2: could not switch user, 3: could not connect";
    EXPECT_EQ(handled.load(), 0);
}

}  // namespace
