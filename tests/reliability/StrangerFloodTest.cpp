// Strangers cannot crowd out the clients: a child process that becomes
// `nobody` holds a few hundred bare connections open against a real
// zoscsisrv (over TCP and TLS from 127.0.0.2, on the unix socket as another
// user), never presenting a session and opening a new one whenever the
// service closes one, while three legitimate clients attach again and again
// and work. Every operation of the three must be served, and the service
// must never hold more than its pending slots for the strangers.
#include "Scale.h"
#include "ServiceClient.h"
#include "ServiceProcess.h"
#include "support/LoopbackPort.h"
#include "support/TestPki.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

using namespace zorel;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kClients = 3;
constexpr int kPerAddress = 16;  // MaxPendingPerAddress of the service

struct FloodCounts {
    long opened = 0;
    long closedByService = 0;
    int heldAtMost = 0;  // connections open at once
};

// One connection of the flood, or -1.
int OpenStranger(const std::string& endpoint) {
    if (endpoint.rfind("unix:", 0) == 0) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, endpoint.c_str() + 5, sizeof address.sun_path - 1);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS &&
            errno != EAGAIN) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.2", &address.sin_addr);  // another address than the clients'
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    address.sin_port = htons(static_cast<uint16_t>(std::stoi(endpoint.substr(endpoint.rfind(':') + 1))));
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The flood, in a child that became `nobody`: keeps `size` connections open
// until `stopFd` turns readable, then writes its counts to `reportFd`.
[[noreturn]] void Flood(const std::string& endpoint, int size, int stopFd, int reportFd) {
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) ::_exit(10);
    }
    FloodCounts counts;
    std::vector<pollfd> fds(static_cast<size_t>(size) + 1, pollfd{-1, POLLIN, 0});
    fds[0] = {stopFd, POLLIN, 0};
    for (;;) {
        int held = 0;
        for (size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].fd < 0 && (fds[i].fd = OpenStranger(endpoint)) >= 0) ++counts.opened;
            held += fds[i].fd >= 0;
        }
        counts.heldAtMost = std::max(counts.heldAtMost, held);
        if (::poll(fds.data(), fds.size(), 50) < 0 && errno != EINTR) break;
        if (fds[0].revents) break;
        for (size_t i = 1; i < fds.size(); ++i) {
            char byte;
            if (fds[i].fd < 0 || fds[i].revents == 0 || ::recv(fds[i].fd, &byte, 1, MSG_DONTWAIT) > 0) continue;
            ::close(fds[i].fd);
            fds[i].fd = -1;
            ++counts.closedByService;
        }
        // A pace that keeps the flood full without taking the machine's cores.
        ::usleep(50000);
    }
    (void)!::write(reportFd, &counts, sizeof counts);
    ::_exit(0);
}

// The flooding child, started and stopped by the test.
class Flooder {
public:
    Flooder(const std::string& endpoint, int size) {
        if (::pipe(m_stop) != 0 || ::pipe(m_report) != 0) return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(m_stop[1]);
            ::close(m_report[0]);
            Flood(endpoint, size, m_stop[0], m_report[1]);
        }
        ::close(m_stop[0]);
        ::close(m_report[1]);
    }
    // Ends the flood; its counts, or an exit status above 0 when it failed.
    int Stop(FloodCounts& counts) {
        ::close(m_stop[1]);
        const bool reported = ::read(m_report[0], &counts, sizeof counts) == sizeof counts;
        ::close(m_report[0]);
        int status = 0;
        if (m_pid > 0) ::waitpid(m_pid, &status, 0);
        return reported ? 0 : WIFEXITED(status) ? std::max(1, WEXITSTATUS(status)) : 128;
    }

private:
    int m_stop[2] = {-1, -1};
    int m_report[2] = {-1, -1};
    pid_t m_pid = -1;
};

struct Row {
    const char* scheme;  // "tcp", "tls" or "unix"
};

class StrangerFlood : public ::testing::TestWithParam<Row> {
protected:
    void TearDown() override {
        for (const char* name : {"ZO_SERVICE_ZoScsiSrv_TLS_CA"}) ::unsetenv(name);
    }
};

TEST_P(StrangerFlood, ThreeClientsAreServedWhileStrangersHoldHundredsOfConnections) {
    const std::string scheme = GetParam().scheme;
    const int floodSize = static_cast<int>(Scaled("ZO_FLOOD_SIZE", 300));
    const long rounds = Scaled("ZO_FLOOD_ROUNDS", 8);
    zotest::TestPki pki;
    ASSERT_TRUE(pki.ok()) << pki.error();
    std::string error;
    ServiceOptions options;
    options.logLevel = 1;
    options.settings = {{"MaxPendingPerAddress", std::to_string(kPerAddress)}, {"SessionDeadlineSeconds", "2"}};
    if (scheme != "unix") options.listen = scheme + ":127.0.0.1:" + std::to_string(zotest::FreeLoopbackPort());
    if (scheme == "tls")
        options.settings.insert(options.settings.end(),
                                {{"TlsCertFile", pki / "server.pem"}, {"TlsKeyFile", pki / "server.key"}});
    ServiceProcess service(options);
    ASSERT_TRUE(service.Start(error)) << error;
    PointRegistryAt(service);
    if (scheme == "tls") ::setenv("ZO_SERVICE_ZoScsiSrv_TLS_CA", (pki / "ca.pem").c_str(), 1);
    if (scheme == "unix") {
        // Open the files to everyone, so that only the service's own checks
        // stand between the strangers and the socket.
        const std::string socketFolder = service.socketPath().substr(0, service.socketPath().rfind('/'));
        for (const std::string& path : {service.options().folder, socketFolder, service.socketPath()})
            ::chmod(path.c_str(), 0777);
    }
    {
        std::unique_ptr<ZoScsiSrvClient> probe = Attach(error);
        ASSERT_NE(probe, nullptr) << error;
    }
    const int baseThreads = service.Threads();

    Flooder flooder(service.endpoint(), floodSize);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the flood in place first
    std::atomic<bool> done{false};
    std::atomic<int> threadsAtMost{0};
    std::thread sampler([&] {
        while (!done) {
            threadsAtMost = std::max(threadsAtMost.load(), service.Threads());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    std::atomic<long> served{0};
    std::atomic<long> slowestMs{0};
    std::vector<std::string> faults(kClients);
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            for (long r = 0; r < rounds && faults[c].empty(); ++r) {
                const auto start = Clock::now();
                std::string why;
                std::unique_ptr<ZoScsiSrvClient> client = Attach(why);
                const std::string name = "client" + std::to_string(c) + "-" + std::to_string(r);
                std::vector<std::string> targets;
                if (!client) {
                    faults[c] = "attach: " + why;
                } else if (Classify(client->AddTarget(TargetRequest(name))).kind != Outcome::Done) {
                    faults[c] = "AddTarget " + name + " not served";
                } else if (client->ListTargets("lt", targets).IsError() ||
                           std::find(targets.begin(), targets.end(), name) == targets.end()) {
                    faults[c] = "ListTargets without " + name;
                } else {
                    served += 2;
                }
                const long ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
                slowestMs = std::max(slowestMs.load(), ms);
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            }
        });
    }
    for (std::thread& client : clients) client.join();
    FloodCounts counts;
    const int flooderStatus = flooder.Stop(counts);
    done = true;
    sampler.join();

    for (int c = 0; c < kClients; ++c) EXPECT_EQ(faults[c], "") << "client " << c;
    EXPECT_EQ(served.load(), kClients * rounds * 2);
    EXPECT_LT(slowestMs.load(), 5000) << "a round took longer than the launch time limit allows";
    ASSERT_EQ(flooderStatus, 0) << "10: could not become nobody";
    EXPECT_GE(counts.heldAtMost, floodSize * 9 / 10) << "the flood was not in place";
    EXPECT_GT(counts.closedByService, 0) << "strangers are closed, at once or at the deadline";
    // One thread per connection: the strangers never had more than their
    // address's pending slots (none on the unix socket, where another user is
    // closed at once).
    const int strangerThreads = scheme == "unix" ? 0 : kPerAddress;
    // A client's connection may still be ending while its next one begins.
    EXPECT_LE(threadsAtMost.load(), baseThreads + strangerThreads + 2 * kClients + 2);
    EXPECT_TRUE(service.Running());
    std::printf("[%s] flood of %d held (%ld opened, %ld closed by the service); %d clients x %ld rounds: %ld "
                "operations served, slowest round %ld ms; service threads %d at rest, at most %d\n",
                scheme.c_str(), counts.heldAtMost, counts.opened, counts.closedByService, kClients, rounds,
                served.load(), slowestMs.load(), baseThreads, threadsAtMost.load());
}

INSTANTIATE_TEST_SUITE_P(Endpoints, StrangerFlood, ::testing::Values(Row{"tcp"}, Row{"tls"}, Row{"unix"}),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.scheme); });

}  // namespace
