#include "backend/tgt/Process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace zoscsi::tgt {
namespace {

using Clock = std::chrono::steady_clock;

std::string Errno(const char* what, int error) { return std::string(what) + ": " + std::strerror(error); }

// Owns a descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    void Reset(int fd = -1) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

bool MakePipe(Fd& readEnd, Fd& writeEnd, std::string& error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = Errno("pipe", errno);
        return false;
    }
    readEnd.Reset(fds[0]);
    writeEnd.Reset(fds[1]);
    return true;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Names that describe this process to its supervisor or carry its secret:
// systemd's readiness socket and watchdog (a child that used them would
// speak for the service) and the session the launcher hands over.
const char* const kOwnEnvironment[] = {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID", "LISTEN_FDS",
                                       "LISTEN_PID",    "LISTEN_FDNAMES", "ZO_ODS_SESSION"};

std::vector<std::string> Environment(const std::vector<std::string>& unset) {
    std::vector<std::string> env;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string line(*entry);
        const std::string name = line.substr(0, line.find('='));
        bool dropped = false;
        for (const std::string& u : unset) dropped = dropped || name == u;
        for (const char* own : kOwnEnvironment) dropped = dropped || name == own;
        if (!dropped) env.push_back(line);
    }
    return env;
}

// posix_spawn with the child set-up common to both entry points: stdin from
// /dev/null, `out` and `err` as descriptors 1 and 2, nothing else open, own
// process group, default signals.
bool Spawn(const std::vector<std::string>& argv, int out, int err, const std::vector<std::string>& unsetEnv,
           pid_t& pid, std::string& error) {
    if (argv.empty() || argv[0].empty()) {
        error = "no program to run";
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    std::vector<std::string> args = argv;
    std::vector<std::string> env = Environment(unsetEnv);
    std::vector<char*> argp = Pointers(args);
    std::vector<char*> envp = Pointers(env);
    const int rc = ::posix_spawn(&pid, argv[0].c_str(), &actions, &attr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        error = Errno(("cannot run " + argv[0]).c_str(), rc);
        return false;
    }
    return true;
}

void KillGroup(pid_t pid) {
    ::kill(-pid, SIGKILL);  // the child leads its own group; helpers it forked go too
    ::kill(pid, SIGKILL);
}

// Reads what is ready on `fd` into `sink` (up to `cap`); false at end of file.
bool Drain(int fd, std::string& sink, size_t cap, bool& truncated) {
    char buffer[8192];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n == 0) return false;
    const size_t room = sink.size() < cap ? cap - sink.size() : 0;
    const size_t kept = std::min(room, static_cast<size_t>(n));
    sink.append(buffer, kept);
    if (kept < static_cast<size_t>(n)) truncated = true;
    return true;
}

// Rounded up: a wait that ends a fraction of a millisecond short of the
// deadline would otherwise find 0 left and kill the program before its limit.
int RemainingMs(Clock::time_point deadline) {
    const auto rest = deadline - Clock::now();
    if (rest <= Clock::duration::zero()) return 0;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(rest).count();
    return static_cast<int>(std::min<long long>(left, 1 << 30));
}

void SetEnd(ProcessResult& result, int status) {
    if (WIFEXITED(status)) {
        result.end = ProcessResult::End::Exited;
        result.code = WEXITSTATUS(status);
    } else {
        result.end = ProcessResult::End::Signaled;
        result.code = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
}

std::string FirstLines(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    for (char& c : text)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    constexpr size_t kMax = 600;
    if (text.size() > kMax) text = text.substr(0, kMax) + "...";
    return text;
}

// Sleeps until `pid` has ended or `deadline` has passed (pidfd_open, where
// the kernel has it; the caller's polling loop does the rest).
void AwaitExit(pid_t pid, Clock::time_point deadline) {
    const Fd exited(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (exited.get() < 0) return;
    pollfd fd{exited.get(), POLLIN, 0};
    while (::poll(&fd, 1, RemainingMs(deadline)) < 0 && errno == EINTR) {
    }
}

}  // namespace

std::string ProcessResult::Describe() const {
    switch (end) {
    case End::NotStarted:
        return startError;
    case End::TimedOut:
        return "killed after " + std::to_string(elapsed.count()) + " ms (its time limit)";
    case End::Signaled:
        return "ended by signal " + std::to_string(code);
    case End::Exited:
        break;
    }
    std::string text = "exit " + std::to_string(code);
    const std::string said = FirstLines(err.empty() ? out : err);
    if (!said.empty()) text += ": " + said;
    return text;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    ProcessResult result;
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + options.limit;
    Fd outRead, outWrite, errRead, errWrite;
    pid_t pid = -1;
    if (!MakePipe(outRead, outWrite, result.startError) || !MakePipe(errRead, errWrite, result.startError) ||
        !Spawn(argv, outWrite.get(), errWrite.get(), options.unsetEnv, pid, result.startError))
        return result;
    outWrite.Reset();
    errWrite.Reset();

    bool outOpen = true, errOpen = true, timedOut = false;
    while ((outOpen || errOpen) && !timedOut) {
        pollfd fds[2] = {{outOpen ? outRead.get() : -1, POLLIN, 0}, {errOpen ? errRead.get() : -1, POLLIN, 0}};
        const int wait = RemainingMs(deadline);
        const int ready = wait == 0 ? 0 : ::poll(fds, 2, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            timedOut = true;
            break;
        }
        if (fds[0].revents) outOpen = Drain(outRead.get(), result.out, options.outputCap, result.truncated);
        if (fds[1].revents) errOpen = Drain(errRead.get(), result.err, options.outputCap, result.truncated);
    }

    // Both streams closed: it should end at once; still hold it to the limit.
    int status = 0;
    if (!timedOut) AwaitExit(pid, deadline);
    while (!timedOut) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            SetEnd(result, status);
            break;
        }
        if (done < 0 && errno != EINTR) {
            result.end = ProcessResult::End::Signaled;  // reaped elsewhere: its ending is unknown
            result.code = 0;
            break;
        }
        if (RemainingMs(deadline) == 0) {
            timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (timedOut) {
        KillGroup(pid);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        result.end = ProcessResult::End::TimedOut;
        result.code = SIGKILL;
    }
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    return result;
}

bool ChildProcess::Running() {
    if (m_pid <= 0) return false;
    int status = 0;
    const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
    if (done == 0) return true;
    if (done == m_pid) Reaped(status);
    else if (errno != EINTR) m_pid = -1;  // not ours any more
    return m_pid > 0;
}

bool ChildProcess::WaitFor(std::chrono::milliseconds limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    while (Running()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void ChildProcess::Kill() {
    if (!Running()) return;
    KillGroup(m_pid);
    int status = 0;
    pid_t done;
    while ((done = ::waitpid(m_pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (done == m_pid) Reaped(status);
    m_pid = -1;
}

void ChildProcess::Reaped(int status) {
    m_ending = WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                                 : "signal " + std::to_string(WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    m_pid = -1;
}

bool SpawnChild(const std::vector<std::string>& argv, const std::string& logPath,
                const std::vector<std::string>& unsetEnv, ChildProcess& child, std::string& error) {
    const Fd log(::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (log.get() < 0) {
        error = Errno(("cannot open " + logPath).c_str(), errno);
        return false;
    }
    pid_t pid = -1;
    if (!Spawn(argv, log.get(), log.get(), unsetEnv, pid, error)) return false;
    child = ChildProcess(pid);
    return true;
}

}  // namespace zoscsi::tgt
