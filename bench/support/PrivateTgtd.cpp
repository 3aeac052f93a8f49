#include "support/PrivateTgtd.h"

#include "backend/tgt/TgtShow.h"
#include "support/LoopbackPort.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

namespace zobench {
using zotest::FindTgtd;
using zotest::TgtdSocketPath;

int FreeControlPort() {
    std::mt19937 random(static_cast<unsigned>(::getpid()) * 2654435761u ^
                        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int port = 12000 + static_cast<int>(random() % 20000);
        if (::access(TgtdSocketPath(port).c_str(), F_OK) != 0 && FindTgtd(port) == 0) return port;
    }
    return 0;
}

int FreePortalPort() { return zotest::FreeLoopbackPort(); }

void KillTgtd(int controlPort) {
    for (pid_t pid = FindTgtd(controlPort); pid != 0; pid = FindTgtd(controlPort)) {
        ::kill(pid, SIGKILL);
        // Gone only once reaped: a tgtd with thousands of threads takes a
        // while to end, and holds its ports until then.
        for (int i = 0; i < 3000 && ::kill(pid, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    zotest::RemoveTgtdSockets(controlPort);
}

zoscsi::tgt::ProcessResult Tgtadm(int controlPort, const std::vector<std::string>& words) {
    return zotest::Tgtadm(controlPort, words, 64u << 20);  // a show of thousands of LUNs
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

bool PrivateTgtd::Start(std::string& error) { return zotest::StartTgtd(m_control, portal(), m_log, m_child, error); }

void PrivateTgtd::KillHard() {
    m_child.Kill();
    KillTgtd(m_control);
}

}  // namespace zobench
