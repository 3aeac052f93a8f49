#include "TgtdHarness.h"

#include <chrono>
#include <cstdlib>
#include <unistd.h>

using namespace zoscsi::tgt;

using zotest::Tgtadm;

ProcessResult RunTool(const std::vector<std::string>& argv) {
    ProcessOptions options;
    options.limit = std::chrono::seconds(30);
    return RunProcess(argv, options);
}

std::string Discover(const std::string& initiator, const std::string& url) {
    const ProcessResult result = RunTool({"/usr/bin/iscsi-ls", "-i", initiator, "-s", url});
    return result.out + result.err;
}

long long CapacityBytes(const std::string& initiator, const std::string& lunUrl) {
    const ProcessResult result = RunTool({"/usr/bin/iscsi-readcapacity16", "-i", initiator, lunUrl});
    const std::string key = "Total size:";
    const size_t at = result.out.find(key);
    if (!result.Succeeded() || at == std::string::npos) return -1;
    return std::atoll(result.out.c_str() + at + key.size());
}

TgtdHarness::~TgtdHarness() {
    Stop();
    RemoveSockets();
}

std::string TgtdHarness::SkipReason() {
    if (::geteuid() != 0) return "needs root (tgtd's control socket lives in /var/run/tgtd)";
    for (const char* tool : {zotest::kTgtdPath, zotest::kTgtadmPath, "/usr/bin/iscsi-ls", "/usr/bin/iscsi-readcapacity16"})
        if (::access(tool, X_OK) != 0) return std::string(tool) + " is not installed";
    return "";
}

void TgtdHarness::PickPorts(int attempt) {
    // High numbers from this process, away from a system tgtd's 0; skip one in use.
    for (int i = 0; i < 50; ++i, attempt += 1) {
        m_controlPort = 20000 + static_cast<int>((::getpid() * 7 + attempt * 7919) % 12000);
        if (::access(zotest::TgtdSocketPath(m_controlPort).c_str(), F_OK) != 0 ||
            !Tgtadm(m_controlPort, {"--mode", "target", "--op", "show"}).Succeeded())
            break;
    }
    m_portalPort = FreeLoopbackPort();
}

bool TgtdHarness::Start(std::string& error) {
    if (m_log.empty()) {
        char log[] = "/tmp/zo-tgtd-log-XXXXXX";
        const int fd = ::mkstemp(log);
        if (fd >= 0) ::close(fd);
        m_log = log;
    }
    for (int attempt = 0; attempt < 5; ++attempt) {
        PickPorts(attempt * 13);
        if (Launch(error)) return true;
    }
    return false;
}

pid_t TgtdHarness::FindOtherTgtd() const { return zotest::FindTgtd(m_controlPort, m_child.pid()); }

bool TgtdHarness::Restart(std::string& error) { return Launch(error); }

bool TgtdHarness::Launch(std::string& error) {
    if (zotest::StartTgtd(m_controlPort, portal(), m_log, m_child, error)) return true;
    RemoveSockets();
    return false;
}

void TgtdHarness::KillHard() { m_child.Kill(); }

void TgtdHarness::Stop() {
    if (!m_child.Running()) {
        if (!m_log.empty()) ::unlink(m_log.c_str());
        return;
    }
    const ProcessResult shown = Tgtadm(m_controlPort, {"--mode", "target", "--op", "show"});
    size_t at = 0;
    while ((at = shown.out.find("Target ", at)) != std::string::npos) {
        const int tid = std::atoi(shown.out.c_str() + at + 7);
        (void)Tgtadm(m_controlPort, {"--mode", "target", "--op", "delete", "--force", "--tid=" + std::to_string(tid)});
        at += 7;
    }
    (void)Tgtadm(m_controlPort, {"--mode", "system", "--op", "delete"});
    if (!m_child.WaitFor(std::chrono::seconds(3))) m_child.Kill();
    ::unlink(m_log.c_str());
    RemoveSockets();
}

void TgtdHarness::RemoveSockets() const {
    // tgtd leaves its socket files behind; remove ours once nothing serves that port.
    if (m_controlPort == 0 || FindOtherTgtd() > 0) return;
    zotest::RemoveTgtdSockets(m_controlPort);
}
