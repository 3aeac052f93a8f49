// zoscsisrv as a systemd unit runs it: a Type=notify service with a
// watchdog and its standard error on the journal's stream. The test plays
// systemd's part: a datagram socket in NOTIFY_SOCKET, WATCHDOG_USEC, and a
// file named by JOURNAL_STREAM.
#include "TempFolder.h"
#include "support/ReadAll.h"
#include "ZoScsiSrvClient.h"
#include "LogWriter.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef ZOSCSISRV_PATH
#error "ZOSCSISRV_PATH names the service program"
#endif

extern char** environ;

namespace {

constexpr int kWaitMillis = 30000;  // generous: the machine may be loaded

std::string ReadFile(const std::string& path) { return zotest::ReadAll(path); }

// systemd's end of the notification protocol.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path) : m_path(path) {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ~NotifySocket() { ::close(m_fd); }

    // The next message, or "" when none comes within `millis`.
    std::string Next(int millis = kWaitMillis) {
        pollfd ready{m_fd, POLLIN, 0};
        if (::poll(&ready, 1, millis) != 1) return "";
        char buffer[4096];
        const ssize_t size = ::recv(m_fd, buffer, sizeof buffer, 0);
        return size > 0 ? std::string(buffer, static_cast<size_t>(size)) : "";
    }

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    int m_fd = -1;
};

class SystemdService : public ::testing::Test {
protected:
    SystemdService() : m_notify(m_folder / "notify") {
        ::mkdir((m_folder / "run").c_str(), 0700);
        ::mkdir((m_folder / "state").c_str(), 0700);
        m_socket = "unix:" + m_folder / "run/socket";
    }
    ~SystemdService() override {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    // Starts zoscsisrv --foreground as the unit does, standard error into
    // the file "stderr" as the journal's stream, with `extra` added to this
    // process's environment.
    void Start(const std::vector<std::string>& extra) {
        m_stderr = m_folder / "stderr";
        const int err = ::open(m_stderr.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(err, 0);
        struct stat status {};
        ::fstat(err, &status);

        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) env.emplace_back(*e);
        env.push_back("ZO_CONFIG=/dev/null");
        env.push_back("JOURNAL_STREAM=" + std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino));
        for (const std::string& e : extra) env.push_back(e);
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        const std::string session = m_folder / "session";
        std::ofstream(session) << "s3cret\n";
        ::chmod(session.c_str(), 0600);
        std::vector<std::string> args = {ZOSCSISRV_PATH, "--foreground", "--listen", m_socket, "--session-file", session,
                                         "--state-dir", m_folder / "state", "--client", "unit-node"};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, err, 2);
        ASSERT_EQ(posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(err);
    }

    // Sends SIGTERM and returns the exit status.
    int Terminate() {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    TempFolder m_folder;
    NotifySocket m_notify;
    std::string m_socket;
    std::string m_stderr;
    pid_t m_pid = -1;
};

TEST_F(SystemdService, ReportsReadyFeedsTheWatchdogLogsWithPrioritiesAndReportsTheStop) {
    Start({"NOTIFY_SOCKET=" + m_notify.path(), "WATCHDOG_USEC=200000"});
    ASSERT_EQ(m_notify.Next(), "READY=1\nSTATUS=serving client unit-node on " + m_socket + " with backend inventory")
        << ReadFile(m_stderr);
    // Keep-alives every half watchdog time, while clients are served.
    setenv("ZO_SERVICE_ZoScsiSrv", m_socket.c_str(), 1);
    setenv("ZO_SERVICE_ZoScsiSrv_SESSION", "s3cret", 1);
    ZoScsiSrvClient client;
    ASSERT_FALSE(client.Initialize("unit-node", "zod", 0).IsError());
    ZoScsiSrvClientRequest::CreateTargetRequest target;
    target.targetName = "tgt01";
    EXPECT_FALSE(client.AddTarget(target).IsError());
    EXPECT_TRUE(client.AddTarget(target).IsError());
    for (int beat = 0; beat < 3; ++beat) EXPECT_EQ(m_notify.Next(), "WATCHDOG=1") << "keep-alive " << beat;
    unsetenv("ZO_SERVICE_ZoScsiSrv");
    unsetenv("ZO_SERVICE_ZoScsiSrv_SESSION");

    EXPECT_EQ(Terminate(), 0);
    std::string message;
    do message = m_notify.Next(); while (message == "WATCHDOG=1");
    EXPECT_EQ(message.rfind("STOPPING=1\nSTATUS=stopping after ", 0), 0u) << message;

    // The refused second target is a level 0 line: the journal's notice,
    // written without a time of its own.
    const std::string log = ReadFile(m_stderr);
    EXPECT_NE(("\n" + log).find("\n<5>L0 Dispatcher:0 "), std::string::npos) << log;
    EXPECT_EQ(log.find("Z L"), std::string::npos) << log;
}

TEST_F(SystemdService, AnInstanceLaunchedOnDemandLeavesAnInheritedNotifySocketAlone) {
    std::ofstream(m_folder / "zo.conf") << "[OnDemandServices]\nZoScsiSrv = " << ZOSCSISRV_PATH << "\n";
    setenv("ZO_CONFIG", (m_folder / "zo.conf").c_str(), 1);
    setenv("ZO_RUNTIME_DIR", (m_folder / "run").c_str(), 1);
    setenv("ZO_STATE_DIR", (m_folder / "state").c_str(), 1);
    setenv("NOTIFY_SOCKET", m_notify.path().c_str(), 1);
    setenv("WATCHDOG_USEC", "100000", 1);
    {
        ZoScsiSrvClient client;
        ASSERT_FALSE(client.Initialize("demand-node", "zod", 0).IsError());
        EXPECT_TRUE(client.IsZoScsiServiceUp(true));
    }
    EXPECT_EQ(m_notify.Next(300), "") << "the launched instance wrote to its launcher's notification socket";
    for (const char* name : {"ZO_CONFIG", "ZO_RUNTIME_DIR", "ZO_STATE_DIR", "NOTIFY_SOCKET", "WATCHDOG_USEC"})
        unsetenv(name);
    const pid_t pid = static_cast<pid_t>(std::atol(ReadFile(m_folder / "run/ZoScsiSrv/demand-node/pid").c_str()));
    if (pid > 0) ::kill(pid, SIGTERM);
}

}  // namespace
