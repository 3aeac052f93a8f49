#include "ServiceProcess.h"
#include "support/ReadAll.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#ifndef ZOSCSISRV_PATH
#error "ZOSCSISRV_PATH names the service program"
#endif
#ifndef ZO_SHELL_TRAP
#error "ZO_SHELL_TRAP names the shell stand-in"
#endif

extern char** environ;

namespace zorel {
namespace {

constexpr const char* kUnix = "unix:";

bool Connects(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

std::string NameOf(const std::string& assignment) { return assignment.substr(0, assignment.find('=')); }

// The test's environment less the launcher's variables (the service must
// run as started by hand), plus the options' variables.
std::vector<std::string> ServiceEnvironment(const ServiceOptions& options) {
    std::vector<std::string> out;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("ZO_ODS_", 0) == 0 || entry.rfind("ZO_CONFIG=", 0) == 0 || entry.rfind("PATH=", 0) == 0)
            continue;
        bool replaced = false;
        for (const std::string& mine : options.environment) replaced = replaced || NameOf(mine) == NameOf(entry);
        if (!replaced) out.push_back(entry);
    }
    out.push_back("ZO_CONFIG=" + options.folder + "/zo.conf");
    const char* path = std::getenv("PATH");
    out.push_back("PATH=" + options.folder + "/trap:" + (path ? path : "/usr/bin:/bin"));
    out.push_back("ZO_SHELL_TRAP_LOG=" + options.folder + "/shell-trap.log");
    for (const std::string& mine : options.environment) out.push_back(mine);
    return out;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(&s[0]);
    pointers.push_back(nullptr);
    return pointers;
}

// The number after `key` ("VmRSS:") in /proc/PID/status, or `missing`.
long ProcStatusField(pid_t pid, const std::string& key, long missing) {
    std::istringstream status(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
    return missing;
}

}  // namespace

std::string ReadFile(const std::string& path) { return zotest::ReadAll(path); }

ServiceProcess::ServiceProcess(ServiceOptions options) : m_options(std::move(options)) {
    if (m_options.folder.empty()) {
        std::string pattern = "/tmp/zo-rel-XXXXXX";
        if (!::mkdtemp(&pattern[0])) std::abort();
        m_options.folder = pattern;
        m_ownsFolder = true;
    }
    SetTrap();
    if (m_options.listen.empty() && !m_options.omitListen) m_options.listen = std::string(kUnix) + m_options.folder + "/run/zoscsisrv.sock";
}

void ServiceProcess::SetTrap() {
    std::filesystem::create_directories(m_options.folder + "/trap");
    for (const char* shell : {"sh", "bash", "dash"}) {
        const std::string link = m_options.folder + "/trap/" + shell;
        std::error_code ignored;
        std::filesystem::remove(link, ignored);
        std::filesystem::create_symlink(ZO_SHELL_TRAP, link);
    }
}

std::string ServiceProcess::shellsRun() const { return ReadFile(m_options.folder + "/shell-trap.log"); }

ServiceProcess::~ServiceProcess() {
    if (m_pid > 0) Kill();
    EXPECT_EQ(shellsRun(), "") << "a shell was run on the service's behalf";
    std::error_code ignored;
    if (m_ownsFolder) std::filesystem::remove_all(m_options.folder, ignored);
}

std::string ServiceProcess::endpoint() const { return m_options.listen; }

std::string ServiceProcess::socketPath() const {
    return m_options.listen.rfind(kUnix, 0) == 0 ? m_options.listen.substr(std::strlen(kUnix)) : std::string();
}

std::string ServiceProcess::stateFolder() const { return m_options.folder + "/state/" + m_options.client; }

std::string ServiceProcess::inventoryPath() const { return stateFolder() + "/inventory.db"; }

std::string ServiceProcess::logText() const { return ReadFile(m_options.folder + "/service.log"); }

bool ServiceProcess::Spawn(std::string& error) {
    {
        std::ofstream conf(m_options.folder + "/zo.conf", std::ios::trunc);
        conf << "[Log]\nLevel = " << m_options.logLevel << "\n\n[ZoScsiSrv]\n";
        for (const auto& setting : m_options.settings) conf << setting.first << " = " << setting.second << "\n";
        conf << m_options.configTail;
    }
    std::vector<std::string> argv = {ZOSCSISRV_PATH, "--foreground", "--state-dir", m_options.folder + "/state",
                                     "--client", m_options.client, "--backend", m_options.backend};
    if (!m_options.omitListen) {
        argv.push_back("--listen");
        argv.push_back(m_options.listen);
    }
    if (!m_options.session.empty()) {
        const std::string sessionFile = m_options.folder + "/session";
        std::ofstream(sessionFile, std::ios::trunc) << m_options.session << "\n";
        ::chmod(sessionFile.c_str(), 0600);
        argv.push_back("--session-file");
        argv.push_back(sessionFile);
    }
    argv.insert(argv.end(), m_options.arguments.begin(), m_options.arguments.end());
    std::vector<std::string> env = ServiceEnvironment(m_options);
    std::vector<char*> argp = Pointers(argv);
    std::vector<char*> envp = Pointers(env);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = m_options.folder + "/service.log";
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = posix_spawn(&m_pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
        error = std::string("posix_spawn ") + ZOSCSISRV_PATH + ": " + std::strerror(rc);
        return false;
    }
    return true;
}

bool ServiceProcess::Start(std::string& error, std::chrono::milliseconds limit) {
    if (!Spawn(error)) return false;
    const std::string path = socketPath();
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (!Running()) {
            error = "zoscsisrv exited before listening; log:\n" + logText();
            return false;
        }
        if (!path.empty() ? Connects(path) : !logText().empty()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    Kill();
    error = "zoscsisrv did not listen in time; log:\n" + logText();
    return false;
}

int ServiceProcess::RunToExit(std::chrono::milliseconds limit) {
    std::string error;
    if (!Spawn(error)) return -1;
    const int status = Reap(limit);
    if (status < 0) Kill();
    return status;
}

int ServiceProcess::Reap(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t got = ::waitpid(m_pid, &status, WNOHANG);
        if (got == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (got < 0 || std::chrono::steady_clock::now() >= end) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void ServiceProcess::Signal(int signal) const {
    if (m_pid > 0) ::kill(m_pid, signal);
}

void ServiceProcess::Kill() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
}

int ServiceProcess::Stop(std::chrono::milliseconds limit) {
    if (m_pid <= 0) return -1;
    Signal(SIGTERM);
    const int status = Reap(limit);
    if (status < 0) Kill();
    return status;
}

bool ServiceProcess::Running() {
    if (m_pid <= 0) return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
    }
    return true;
}

long ServiceProcess::RssKiB() const { return ProcStatusField(m_pid, "VmRSS:", 0); }

int ServiceProcess::Threads() const { return static_cast<int>(ProcStatusField(m_pid, "Threads:", -1)); }

}  // namespace zorel
