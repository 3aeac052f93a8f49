// Frames over TLS between CZoNetwork and zo::ServiceListener, with
// certificates made by the test: the service is verified (CA, name, expiry),
// a client certificate is required when the service says so, a plain client
// on a TLS port and a TLS client on a plain port are told what went wrong,
// and a peer that never completes the handshake is dropped at the session
// deadline while others are served.
#include "CNSession.h"
#include "CZoNetwork.h"
#include "NetTestSupport.h"
#include "support/TestPki.h"
#include "zo/ServiceListener.h"
#include "zo/TlsSettings.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

namespace {

using zotest::StatusNumber;
using zotest::Text;
using zotest::TextOf;

constexpr const char* kSession = "tls-session-0123456789";

class TlsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pki.ok()) << pki.error(); }
    void TearDown() override {
        if (listener) listener->Stop();
        if (runner.joinable()) runner.join();
    }

    std::string File(const char* name) const { return pki / name; }

    zo::TlsServerSettings Server(const char* certificate = "server", bool requireClient = false) const {
        zo::TlsServerSettings tls;
        tls.certFile = File((std::string(certificate) + ".pem").c_str());
        tls.keyFile = File((std::string(certificate) + ".key").c_str());
        if (requireClient) tls.caFile = File("ca.pem");
        return tls;
    }
    zo::TlsClientSettings Client(const char* ca = "ca.pem", const char* certificate = nullptr) const {
        zo::TlsClientSettings tls;
        tls.caFile = File(ca);
        if (certificate) {
            tls.certFile = File((std::string(certificate) + ".pem").c_str());
            tls.keyFile = File((std::string(certificate) + ".key").c_str());
        }
        return tls;
    }

    void Start(const zo::TlsServerSettings& tls, const std::string& endpoint = "tls:127.0.0.1:0") {
        zo::ListenerOptions options;
        options.endpoint = endpoint;
        options.sessionId = kSession;
        options.tls = tls;
        options.sessionDeadlineSec = 1;
        options.frameDeadlineSec = 5;
        listener = std::make_unique<zo::ServiceListener>(
            options, [](const CNMessageBase& request, const zo::PeerInfo&) { return Text("echo " + TextOf(request)); });
        const CYbError error = listener->Start();
        ASSERT_FALSE(error.IsError()) << error.ToString();
        runner = std::thread([this] { listener->Run(); });
    }
    int Port() const {
        const std::string bound = listener->BoundEndpoint();
        return std::stoi(bound.substr(bound.rfind(':') + 1));
    }

    // Connects and presents the session; "" when validated, else what failed.
    std::string Attach(CZoNetwork& network, const zo::TlsClientSettings& tls, const std::string& scheme = "tls",
                       const std::string& host = "127.0.0.1") {
        const std::string endpoint = scheme + ":" + host + ":" + std::to_string(Port());
        const CYbError connected = network.Connect(endpoint, 5, tls);
        if (connected.IsError()) return connected.Message();
        bool timedOut = false;
        CNMessageBase* answer = nullptr;
        CYbError result = network.SendXMLMessage(*zotest::ValidateRequest(kSession), 0, 5, timedOut);
        if (!result.IsError() && !timedOut) result = network.ReceiveXMLMessage(nullptr, answer, nullptr, 0, 5, timedOut);
        const std::unique_ptr<CNMessageBase> owned(answer);
        if (result.IsError()) return result.Message();
        if (timedOut || !owned) return "no answer";
        if (StatusNumber(owned.get()) != 0) return "refused: " + zotest::StatusText(owned.get());
        return "";
    }

    zotest::TestPki pki;
    std::unique_ptr<zo::ServiceListener> listener;
    std::thread runner;
};

TEST_F(TlsTest, AVerifiedClientIsServedWithFramesOfAnySizeAndInAnyNumber) {
    Start(Server());
    CZoNetwork network;
    ASSERT_EQ(Attach(network, Client()), "");
    // Larger than a TLS record, and several frames in flight at once.
    for (const size_t size : {1u, 20000u, 300000u}) {
        auto answer = zotest::Exchange(network, *Text(std::string(size, 'x')));
        ASSERT_NE(answer, nullptr) << size;
        EXPECT_EQ(TextOf(*answer).size(), size + 5);
    }
    // Requests sent back to back arrive in one read; each is still answered.
    bool timedOut = false;
    for (const char* text : {"a", "b", "c"})
        ASSERT_FALSE(network.SendXMLMessage(*Text(text), 0, 5, timedOut).IsError() || timedOut);
    for (const char* text : {"a", "b", "c"}) {
        CNMessageBase* answer = nullptr;
        ASSERT_FALSE(network.ReceiveXMLMessage(nullptr, answer, nullptr, 0, 5, timedOut).IsError() || timedOut);
        const std::unique_ptr<CNMessageBase> owned(answer);
        EXPECT_EQ(TextOf(*owned), std::string("echo ") + text);
    }
}

TEST_F(TlsTest, EachFaultIsRefusedWithAClearReason) {
    struct Row {
        const char* name;
        const char* serverCertificate;
        bool requireClient;
        zo::TlsClientSettings client;
        const char* scheme;
        const char* reason;  // "" for a client that is served
        const char* host = "127.0.0.1";
    };
    const Row rows[] = {
        {"a service signed by another CA", "server", false, Client("other-ca.pem"), "tls",
         "unable to get local issuer certificate"},
        {"an expired service certificate", "expired", false, Client(), "tls", "certificate has expired"},
        {"a certificate for another address", "client", false, Client(), "tls", "IP address mismatch"},
        {"a certificate for another name", "client", false, Client(), "tls", "hostname mismatch", "localhost"},
        {"a certificate for the name", "server", false, Client(), "tls", "", "localhost"},
        {"no client certificate where one is required", "server", true, Client(), "tls", "certificate required"},
        {"a client certificate of another CA", "server", true, Client("ca.pem", "stranger"), "tls", "unknown ca"},
        {"a client certificate of the service's CA", "server", true, Client("ca.pem", "client"), "tls", ""},
        {"a plain client on the TLS port", "server", false, Client(), "tcp", "this port speaks TLS"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Start(Server(row.serverCertificate, row.requireClient));
        CZoNetwork network;
        const std::string outcome = Attach(network, row.client, row.scheme, row.host);
        if (*row.reason == '\0') EXPECT_EQ(outcome, "");
        else EXPECT_NE(outcome.find(row.reason), std::string::npos) << outcome;
        TearDown();
    }
}

TEST_F(TlsTest, ATlsClientOnAPlainPortFailsTheHandshake) {
    Start(zo::TlsServerSettings(), "tcp:127.0.0.1:0");
    CZoNetwork network;
    const std::string outcome = Attach(network, Client());
    EXPECT_NE(outcome.find("TLS with tls:127.0.0.1:"), std::string::npos) << outcome;
}

TEST_F(TlsTest, AHandshakeNeverCompletedIsDroppedAtTheSessionDeadline) {
    Start(Server());
    const int silent = zotest::ConnectRawTcp(listener->BoundEndpoint());  // opens TCP, sends nothing
    const int stalled = zotest::ConnectRawTcp(listener->BoundEndpoint());
    ASSERT_TRUE(zotest::WriteAll(stalled, std::string("\x16\x03\x01\x02\x00\x01", 6)));  // a ClientHello begun
    const auto start = std::chrono::steady_clock::now();
    CZoNetwork network;
    EXPECT_EQ(Attach(network, Client()), "") << "served while the others hold their handshakes";
    EXPECT_TRUE(zotest::PeerClosed(silent, 4000));
    EXPECT_TRUE(zotest::PeerClosed(stalled, 4000));
    EXPECT_GE(zotest::SecondsSince(start), 0.9);
    EXPECT_LT(zotest::SecondsSince(start), 3.0);
    EXPECT_TRUE(zotest::WaitUntil([&] { return listener->PendingConnections() == 0; }));
    ::close(silent);
    ::close(stalled);
}

TEST_F(TlsTest, UnusableSettingsStopTheStartWithTheFileAtFault) {
    const std::pair<zo::TlsServerSettings, const char*> rows[] = {
        {zo::TlsServerSettings(), "needs a certificate and a private key"},
        {{File("server.pem"), File("client.key"), ""}, "key values mismatch"},
        {{File("missing.pem"), File("server.key"), ""}, "missing.pem"},
        {{File("server.pem"), File("server.key"), File("missing-ca.pem")}, "missing-ca.pem"},
    };
    for (const auto& row : rows) {
        zo::ListenerOptions options;
        options.endpoint = "tls:127.0.0.1:0";
        options.tls = row.first;
        zo::ServiceListener refused(options, [](const CNMessageBase&, const zo::PeerInfo&) { return Text(""); });
        const CYbError error = refused.Start();
        ASSERT_TRUE(error.IsError()) << row.second;
        EXPECT_NE(error.Message().find(row.second), std::string::npos) << error.Message();
    }
}

}  // namespace
