#include "backend/tgt/TgtDaemon.h"

#include "backend/tgt/TgtApply.h"
#include "backend/tgt/TgtShow.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <thread>

namespace zoscsi::tgt {
namespace {

using Op = TgtCommand::Op;
using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kPoll{25};
constexpr std::chrono::milliseconds kExitWait{3000};

TgtCommand Simple(Op op) {
    TgtCommand command;
    command.op = op;
    return command;
}

long FileSize(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

// tgtd holds a descriptor per LUN and tries to raise its own limit, which
// needs a privilege it may lack; it inherits this process's limits, whose
// soft one can be as low as 1024. Once it answers (its own attempt is
// behind it) its soft limit is raised to its hard one.
void RaiseDescriptorLimit(pid_t pid) {
    rlimit limit{};
    if (::prlimit(pid, RLIMIT_NOFILE, nullptr, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    (void)::prlimit(pid, RLIMIT_NOFILE, &limit, nullptr);
}

// The process holding tgtd's lock on `controlPort` (tgtd keeps a POSIX
// record lock on its socket's ".lock" file while it runs); 0 when none.
pid_t ControlPortHolder(int controlPort) {
    const std::string path = "/var/run/tgtd/socket." + std::to_string(controlPort) + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return 0;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    return held ? probe.l_pid : 0;
}

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
    return text.empty() ? "none" : text;
}

}  // namespace

TgtDaemon::TgtDaemon(const TgtConfig& config, const TgtAdm& adm, std::string logPath)
    : m_config(config), m_adm(adm), m_logPath(std::move(logPath)) {}

bool TgtDaemon::Answers(std::string& why) const {
    const TgtAdmResult result = m_adm.Run(Simple(Op::ShowSystem));
    if (!result.ok) why = result.text;
    return result.ok;
}

BackendStatus TgtDaemon::Ensure() {
    if (m_child.started() && !m_child.Running()) {
        m_child = ChildProcess();  // it ended (killed?): start another below if configured
        m_checked = false;
    }
    if (m_checked) return BackendStatus::Ok();
    std::string why;
    BackendStatus status;
    if (Answers(why)) status = CheckPortal(m_child.started());
    else if (m_config.startDaemon) status = Launch();
    else
        status = BackendStatus::Fail("tgtd does not answer on control port " + std::to_string(m_config.controlPort) +
                                     " (TgtStartDaemon is off): " + why);
    m_checked = status.ok;
    return status;
}

BackendStatus TgtDaemon::Launch() {
    const Clock::time_point deadline = Clock::now() + m_config.startLimit;
    // A tgtd that was killed goes on holding its control port and portal
    // until its last thread has ended, which takes a while for one with
    // thousands of LUNs; a new one started before that fails to bind.
    while (const pid_t holder = ControlPortHolder(m_config.controlPort)) {
        if (Clock::now() >= deadline)
            return BackendStatus::Fail("tgtd pid " + std::to_string(holder) + " holds control port " +
                                       std::to_string(m_config.controlPort) + " but does not answer");
        std::this_thread::sleep_for(kPoll);
    }
    const std::vector<std::string> argv =
        TgtdArgv(m_config.tgtdPath, m_config.controlPort, m_config.Portal(), m_config.ioThreads);
    m_logOffset = FileSize(m_logPath);
    std::string error;
    if (!SpawnChild(argv, m_logPath, {"TGT_IPC_SOCKET"}, m_child, error))
        return BackendStatus::Fail("cannot start tgtd: " + error);
    ++m_launches;

    std::string why;
    while (!Answers(why)) {
        if (!m_child.Running())
            return BackendStatus::Fail("tgtd ended at its start (" + m_child.ending() + "): " + LogTail());
        if (Clock::now() >= deadline) {
            m_child.Kill();
            return BackendStatus::Fail("tgtd did not answer within " + std::to_string(m_config.startLimit.count()) +
                                       " ms: " + why + "; " + LogTail());
        }
        std::this_thread::sleep_for(kPoll);
    }
    RaiseDescriptorLimit(m_child.pid());
    return CheckPortal(true);
}

BackendStatus TgtDaemon::CheckPortal(bool ours) {
    const TgtAdmResult result = m_adm.Run(Simple(Op::ShowPortals));
    std::vector<std::string> portals;
    std::string error;
    if (!result.ok) error = result.text;
    else (void)ParsePortals(result.out, portals, error);
    const std::string wanted = m_config.Portal();
    bool has = false, others = false;
    for (const std::string& portal : portals) (portal == wanted ? has : others) = true;
    if (error.empty() && has && !(ours && others)) return BackendStatus::Ok();

    std::string text = error.empty() ? "tgtd does not serve portal " + wanted + " (it serves " + Joined(portals) + ")"
                                     : "cannot read tgtd's portals: " + error;
    if (ours && m_child.started()) {
        // Never leave a daemon of ours listening where it was not asked to.
        text += "; stopping it: " + Shutdown() + "; " + LogTail();
    }
    return BackendStatus::Fail(text);
}

std::string TgtDaemon::Shutdown() {
    m_checked = false;
    std::vector<TgtTargetState> targets;
    std::string error;
    if (ReadTargets(m_adm, targets, error) && !targets.empty()) {
        m_child = ChildProcess();  // it serves others still; it outlives us
        return "tgtd left running: it holds " + std::to_string(targets.size()) + " target(s)";
    }
    const TgtAdmResult asked = m_adm.Run(Simple(Op::DeleteSystem));
    if (!m_child.started()) return asked.ok ? "tgtd asked to exit" : "tgtd did not exit: " + asked.text;
    if (m_child.WaitFor(kExitWait)) return "tgtd exited";
    m_child.Kill();
    return "tgtd killed (it did not exit when asked" + (asked.ok ? std::string(")") : ": " + asked.text + ")");
}

std::string TgtDaemon::LogTail() const {
    std::ifstream log(m_logPath, std::ios::binary);
    if (!log) return "no tgtd log at " + m_logPath;
    log.seekg(0, std::ios::end);
    const long size = static_cast<long>(log.tellg());
    constexpr long kTail = 800;
    const long from = std::max(m_logOffset, size - kTail);
    log.seekg(from);
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    for (char& c : text)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text.empty() ? "tgtd wrote nothing to " + m_logPath : "tgtd says: " + text;
}

}  // namespace zoscsi::tgt
