// Who may talk to a real zoscsisrv: its unix socket is 0600 in a 0700
// folder; a connection without the session identifier, with a wrong one, or
// from another user is refused before any request is carried out; TCP is
// served only where the configuration says, on loopback when it says so, and
// never on a wildcard address by omission; plain TCP beyond loopback only
// when allowed; over TLS the library verifies the service and presents its
// own certificate where the service asks for one.
#include "RawPeer.h"
#include "ServiceClient.h"
#include "ServiceProcess.h"
#include "support/LoopbackPort.h"
#include "support/TestPki.h"

#include "CNSession.h"
#include "ZoScsiServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>

using namespace zorel;
namespace W = ZoScsiServer::Wire;

namespace {

using zotest::FreeLoopbackPort;

std::string CreateTargetFrame(const std::string& name) {
    std::unique_ptr<CNMessageBase> message = ServiceRequest(W::kCreateTarget);
    message->setstring(W::kTargetName.first, W::kTargetName.second, name, W::kCreateTarget.requestType,
                       W::kTargetName.key);
    return FrameOf(*message);
}

class AccessControl : public ::testing::Test {
protected:
    void SetUp() override {
        service = std::make_unique<ServiceProcess>(ServiceOptions{});
        std::string error;
        ASSERT_TRUE(service->Start(error)) << error;
        PointRegistryAt(*service);
        owner = Attach(error);
        ASSERT_NE(owner, nullptr) << error;
    }

    std::vector<std::string> Targets() {
        std::vector<std::string> names;
        EXPECT_FALSE(owner->ListTargets("lt", names).IsError());
        return names;
    }
    bool HasTarget(const std::string& name) {
        const std::vector<std::string> names = Targets();
        return std::find(names.begin(), names.end(), name) != names.end();
    }

    std::unique_ptr<ServiceProcess> service;
    std::unique_ptr<ZoScsiSrvClient> owner;
};

TEST_F(AccessControl, TheUnixSocketIs0600InA0700Folder) {
    struct stat socketInfo {}, folderInfo {};
    ASSERT_EQ(::lstat(service->socketPath().c_str(), &socketInfo), 0);
    const std::string folder = service->socketPath().substr(0, service->socketPath().rfind('/'));
    ASSERT_EQ(::lstat(folder.c_str(), &folderInfo), 0);
    EXPECT_TRUE(S_ISSOCK(socketInfo.st_mode));
    EXPECT_EQ(socketInfo.st_mode & 07777, 0600u);
    EXPECT_TRUE(S_ISDIR(folderInfo.st_mode));
    EXPECT_EQ(folderInfo.st_mode & 07777, 0700u);
    EXPECT_EQ(socketInfo.st_uid, ::geteuid());
}

// Each row: what is presented first (nothing, or a session), then a
// mutation in the same write. The mutation must never be carried out.
TEST_F(AccessControl, AMissingOrWrongSessionIsRefusedBeforeAnyRequestIsCarriedOut) {
    const std::string right = service->options().session;
    struct Row {
        const char* name;
        bool presents;
        std::string session;
        const char* expect;
    };
    const Row rows[] = {
        {"no session at all", false, "", "no session presented"},
        {"an empty session", true, "", "session refused"},
        {"a wrong session", true, "wrong-session", "session refused"},
        {"a prefix of the session", true, right.substr(0, right.size() - 1), "session refused"},
        {"the session and more", true, right + "x", "session refused"},
        {"the session in other case", true, "RELIABILITY-SESSION-0123456789", "session refused"},
        {"the session with a NUL byte", true, right.substr(0, 5) + std::string(1, '\0') + right.substr(6),
         "session refused"},
    };
    int serial = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string intruder = "intruder-" + std::to_string(++serial);
        RawPeer peer;
        ASSERT_TRUE(peer.Connect(service->socketPath()));
        const std::string first = row.presents ? FrameOf(*SessionRequest(row.session)) : std::string();
        (void)peer.Send(first + CreateTargetFrame(intruder));
        std::unique_ptr<CNMessageBase> answer = peer.Read();
        ASSERT_NE(answer, nullptr);
        long long number = 0;
        std::string text;
        ASSERT_EQ(answer->Id(), CNSession::Wire::kValidateRespId);
        ASSERT_TRUE(SessionGroupStatus(*answer, number, text));
        EXPECT_NE(number, 0);
        EXPECT_NE(text.find(row.expect), std::string::npos) << text;
        EXPECT_EQ(peer.Read(500), nullptr) << "nothing after the refusal";
        EXPECT_TRUE(peer.Closed());
        EXPECT_FALSE(HasTarget(intruder)) << "the request behind the refusal was carried out";
    }
    const Outcome mine = Classify(owner->AddTarget(TargetRequest("owner-target")));
    EXPECT_EQ(mine.kind, Outcome::Done) << mine.text;
}

TEST_F(AccessControl, AnotherUserIsRefusedEvenWhenTheFilesLetItIn) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const std::string folder = service->socketPath().substr(0, service->socketPath().rfind('/'));
    // Open the files so that only the service's own check stands in the way.
    ASSERT_EQ(::chmod(service->options().folder.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(service->socketPath().c_str(), 0777), 0);
    const std::string frames = FrameOf(*SessionRequest(service->options().session)) + CreateTargetFrame("by-nobody");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) ::_exit(10);
        RawPeer peer;
        if (!peer.Connect(service->socketPath())) ::_exit(11);
        (void)peer.Send(frames);
        const bool answered = peer.Read(1500) != nullptr;
        ::_exit(answered ? 12 : peer.Closed(3000) ? 0 : 13);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10 setuid failed, 11 could not connect, 12 was answered, 13 not closed";
    EXPECT_FALSE(HasTarget("by-nobody"));
}

// The listening TCP sockets of `port` in /proc/net/tcp and tcp6: their local
// addresses, in the kernel's hex form.
std::vector<std::string> ListeningAddresses(int port) {
    std::vector<std::string> addresses;
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, "%04X", port);
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::istringstream lines(ReadFile(table));
        std::string line;
        std::getline(lines, line);  // heading
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            const size_t colon = local.rfind(':');
            if (state == "0A" && colon != std::string::npos && local.substr(colon + 1) == wanted)
                addresses.push_back(local.substr(0, colon));
        }
    }
    return addresses;
}

TEST(AccessControlTcp, ListensOnlyOnTheConfiguredLoopbackAddressAndStillWantsTheSession) {
    const int port = FreeLoopbackPort();
    ServiceOptions options;
    options.omitListen = true;
    options.settings = {{"ListenTcp", "127.0.0.1:" + std::to_string(port)}};
    options.logLevel = 1;
    ServiceProcess service(options);
    // Started by hand without --listen: the service takes ListenTcp.
    std::string error;
    ASSERT_TRUE(service.Start(error)) << error;
    for (int i = 0; i < 200 && ListeningAddresses(port).empty(); ++i) ::usleep(10000);
    const std::vector<std::string> addresses = ListeningAddresses(port);
    ASSERT_FALSE(addresses.empty()) << service.logText();
    for (const std::string& address : addresses) EXPECT_EQ(address, "0100007F") << "bound beyond loopback";

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string request = FrameOf(*SessionRequest("not-the-session")) + CreateTargetFrame("over-tcp");
    ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    char header[4];
    ASSERT_EQ(::recv(fd, header, sizeof header, MSG_WAITALL), 4) << "the refusal is answered";
    ::close(fd);
}

TEST(AccessControlTcp, TcpWithoutASessionIsRefused) {
    ServiceOptions options;
    options.listen = "tcp:127.0.0.1:" + std::to_string(FreeLoopbackPort());
    options.session = "";
    ServiceProcess service(options);
    const int status = service.RunToExit();
    EXPECT_NE(status, 0) << service.logText();
    EXPECT_NE(status, -1) << "it must stop, not listen";
    EXPECT_NE(service.logText().find("without a session"), std::string::npos) << service.logText();
}

TEST(AccessControlTcp, AListenSettingWithoutAnAddressIsRefusedNotWidened) {
    for (const char* setting : {"3260", ":3260", "tcp::3260"}) {
        SCOPED_TRACE(setting);
        ServiceOptions options;
        options.omitListen = true;
        options.settings = {{"ListenTcp", setting}};
        ServiceProcess service(options);
        const int status = service.RunToExit();
        EXPECT_NE(status, 0) << service.logText();
        EXPECT_NE(status, -1) << "it must stop, not listen";
        EXPECT_FALSE(service.logText().empty()) << "with a reason";
    }
}

TEST(AccessControlTcp, PlainTcpBeyondLoopbackOnlyWhenAllowed) {
    const std::string listen = "tcp:0.0.0.0:" + std::to_string(FreeLoopbackPort());
    ServiceOptions refused;
    refused.listen = listen;
    ServiceProcess service(refused);
    const int status = service.RunToExit();
    EXPECT_EQ(status, 70) << service.logText();
    EXPECT_NE(service.logText().find("0.0.0.0 is not a loopback address"), std::string::npos) << service.logText();

    ServiceOptions allowed = refused;
    allowed.settings = {{"AllowPlainTcp", "yes"}};
    allowed.logLevel = 1;
    ServiceProcess open(allowed);
    std::string error;
    EXPECT_TRUE(open.Start(error)) << error;
}

// The library through a tls: registry entry, as a remote node reaches a
// service: the service's certificate is checked against the entry's CA, and
// the client's own certificate is presented where the service requires one.
TEST(AccessControlTls, TheLibraryWorksOverMutualTlsAndIsRefusedWithoutItsCertificate) {
    zotest::TestPki pki;
    ASSERT_TRUE(pki.ok()) << pki.error();
    ServiceOptions options;
    options.listen = "tls:127.0.0.1:" + std::to_string(FreeLoopbackPort());
    options.logLevel = 1;
    options.settings = {{"TlsCertFile", pki / "server.pem"}, {"TlsKeyFile", pki / "server.key"},
                        {"TlsCaFile", pki / "ca.pem"}};
    ServiceProcess tls(options);
    std::string error;
    ASSERT_TRUE(tls.Start(error)) << error;
    PointRegistryAt(tls);
    const std::pair<const char*, std::string> entry[] = {{"ZO_SERVICE_ZoScsiSrv_TLS_CA", pki / "ca.pem"},
                                                         {"ZO_SERVICE_ZoScsiSrv_TLS_CERT", pki / "client.pem"},
                                                         {"ZO_SERVICE_ZoScsiSrv_TLS_KEY", pki / "client.key"}};
    for (const auto& variable : entry) ::setenv(variable.first, variable.second.c_str(), 1);

    std::unique_ptr<ZoScsiSrvClient> client = Attach(error);
    ASSERT_NE(client, nullptr) << error;
    EXPECT_EQ(Classify(client->AddTarget(TargetRequest("over-tls"))).kind, Outcome::Done);
    std::vector<std::string> targets;
    EXPECT_FALSE(client->ListTargets("lt", targets).IsError());
    EXPECT_EQ(targets, std::vector<std::string>{"over-tls"});

    ::unsetenv("ZO_SERVICE_ZoScsiSrv_TLS_CERT");
    ::unsetenv("ZO_SERVICE_ZoScsiSrv_TLS_KEY");
    EXPECT_EQ(Attach(error), nullptr);
    EXPECT_NE(error.find("alert certificate required"), std::string::npos) << error;
    ::unsetenv("ZO_SERVICE_ZoScsiSrv_TLS_CA");
}

}  // namespace
