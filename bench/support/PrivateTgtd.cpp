#include "support/PrivateTgtd.h"

#include "backend/tgt/TgtShow.h"
#include "support/LoopbackPort.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

namespace zobench {
namespace {

constexpr const char* kTgtd = "/usr/sbin/tgtd";
constexpr const char* kTgtadm = "/usr/sbin/tgtadm";

std::string SocketPath(int controlPort) { return "/var/run/tgtd/socket." + std::to_string(controlPort); }

}  // namespace

int FreeControlPort() {
    std::mt19937 random(static_cast<unsigned>(::getpid()) * 2654435761u ^
                        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int port = 12000 + static_cast<int>(random() % 20000);
        if (::access(SocketPath(port).c_str(), F_OK) != 0 && FindTgtd(port) == 0) return port;
    }
    return 0;
}

int FreePortalPort() { return zotest::FreeLoopbackPort(); }

pid_t FindTgtd(int controlPort) {
    const std::string wanted = "--control-port=" + std::to_string(controlPort);
    DIR* proc = ::opendir("/proc");
    pid_t found = 0;
    while (dirent* entry = proc ? ::readdir(proc) : nullptr) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        std::ifstream in(std::string("/proc/") + entry->d_name + "/cmdline", std::ios::binary);
        const std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (cmdline.rfind(std::string(kTgtd) + '\0', 0) == 0 && cmdline.find(wanted + '\0') != std::string::npos)
            found = static_cast<pid_t>(std::atol(entry->d_name));
    }
    if (proc) ::closedir(proc);
    return found;
}

void KillTgtd(int controlPort) {
    for (pid_t pid = FindTgtd(controlPort); pid != 0; pid = FindTgtd(controlPort)) {
        ::kill(pid, SIGKILL);
        // Gone only once reaped: a tgtd with thousands of threads takes a
        // while to end, and holds its ports until then.
        for (int i = 0; i < 3000 && ::kill(pid, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::unlink(SocketPath(controlPort).c_str());
    ::unlink((SocketPath(controlPort) + ".lock").c_str());
}

zoscsi::tgt::ProcessResult Tgtadm(int controlPort, const std::vector<std::string>& words) {
    std::vector<std::string> argv{kTgtadm, "--control-port=" + std::to_string(controlPort), "--lld=iscsi"};
    argv.insert(argv.end(), words.begin(), words.end());
    zoscsi::tgt::ProcessOptions options;
    options.limit = std::chrono::seconds(30);
    options.outputCap = 64u << 20;
    return zoscsi::tgt::RunProcess(argv, options);
}

int ExportedLuns(int controlPort) {
    const zoscsi::tgt::ProcessResult shown = Tgtadm(controlPort, {"--mode", "target", "--op", "show"});
    std::vector<zoscsi::tgt::TgtTargetState> targets;
    std::string error;
    if (!shown.Succeeded() || !zoscsi::tgt::ParseTargets(shown.out, targets, error)) return -1;
    int luns = 0;
    for (const auto& target : targets) luns += static_cast<int>(target.luns.size()) - 1;
    return luns;
}

PrivateTgtd::PrivateTgtd() : m_control(FreeControlPort()), m_portal(FreePortalPort()) {
    char log[] = "/tmp/zo-bench-tgtd-XXXXXX";
    const int fd = ::mkstemp(log);
    if (fd >= 0) ::close(fd);
    m_log = log;
}

PrivateTgtd::~PrivateTgtd() {
    KillHard();
    ::unlink(m_log.c_str());
}

bool PrivateTgtd::Start(std::string& error) {
    if (!zoscsi::tgt::SpawnChild({kTgtd, "-f", "--control-port=" + std::to_string(m_control), "--iscsi",
                                  "portal=" + portal()},
                                 m_log, {"TGT_IPC_SOCKET"}, m_child, error))
        return false;
    for (int i = 0; i < 400; ++i) {
        if (!m_child.Running()) {
            error = "tgtd ended: " + m_child.ending();
            return false;
        }
        if (Tgtadm(m_control, {"--mode", "system", "--op", "show"}).Succeeded()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    error = "tgtd did not answer";
    return false;
}

void PrivateTgtd::KillHard() {
    m_child.Kill();
    KillTgtd(m_control);
}

}  // namespace zobench
