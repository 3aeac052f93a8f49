#include "Spawner.h"

#include "Deadline.h"
#include "SocketTransport.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace zo {

namespace {

// Our descriptors are moved at or above this before the fork, so placing
// 0, 1, 2 and the ready descriptor in the program can never clobber them.
constexpr int kHighFd = 10;
constexpr int kSupervisePollMillis = 20;
constexpr int kExitGraceMillis = 200;     // a program that closed the ready fd may be on its way out
constexpr int kRefusalGraceMillis = 2000; // one that said why it will not serve is expected to exit
constexpr int kCancelGraceMillis = 2000;  // for the report after a cancelled start
constexpr int kReasonWaitMillis = 1000;   // for the rest of a refusal line
constexpr size_t kMaxReasonBytes = 1024;
constexpr int kMaxFdSweep = 65536;

// Everything between fork and exec (or _exit) below uses only
// async-signal-safe calls and memory prepared before the fork: the caller
// may have other threads, whose locks the children would inherit held.

struct Descriptors {
    int devNull = -1, log = -1;
    int lock = -1;                          // the caller's lock, handed on to the program
    int readyRead = -1, readyWrite = -1;    // program -> supervisor
    int reportRead = -1, reportWrite = -1;  // supervisor and program -> caller
    int cancelRead = -1, cancelWrite = -1;  // caller -> supervisor (closing it cancels)

    ~Descriptors() {
        for (int* fd : {&devNull, &log, &lock, &readyRead, &readyWrite, &reportRead, &reportWrite, &cancelRead,
                        &cancelWrite})
            CloseOne(*fd);
    }
    static void CloseOne(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

// Keeps fd close-on-exec and moves it to kHighFd or above. 0 or errno.
int MoveHigh(int& fd) {
    if (fd < 0) return errno;  // the open or pipe that should have made it failed
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, kHighFd);
    const int code = errno;
    ::close(fd);
    fd = moved;
    return moved < 0 ? code : 0;
}

int OpenPipe(int& readEnd, int& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
    readEnd = fds[0];
    writeEnd = fds[1];
    if (int code = MoveHigh(readEnd)) return code;
    return MoveHigh(writeEnd);
}

int OpenDescriptors(const SpawnRequest& request, Descriptors& d) {
    d.devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (int code = MoveHigh(d.devNull)) return code;
    d.log = ::open(request.logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (int code = MoveHigh(d.log)) return code;
    if (request.lockFd >= 0) {
        d.lock = ::fcntl(request.lockFd, F_DUPFD_CLOEXEC, kHighFd);
        if (d.lock < 0) return errno;
    }
    if (int code = OpenPipe(d.readyRead, d.readyWrite)) return code;
    if (int code = OpenPipe(d.reportRead, d.reportWrite)) return code;
    return OpenPipe(d.cancelRead, d.cancelWrite);
}

void Report(int fd, char tag, long value) {
    char line[32];
    int length = 0;
    line[length++] = tag;
    char digits[24];
    int count = 0;
    unsigned long rest = value < 0 ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    do {
        digits[count++] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (value < 0) line[length++] = '-';
    while (count > 0) line[length++] = digits[--count];
    line[length++] = '\n';
    ssize_t ignored = ::write(fd, line, static_cast<size_t>(length));
    (void)ignored;
}

// Reads the rest of a refusal line from the ready descriptor (bounded in
// size and time) and reports it as "M<text>\n", control bytes as blanks.
void RelayRefusal(const Descriptors& d) {
    char line[kMaxReasonBytes + 2];
    size_t length = 0;
    line[length++] = 'M';
    for (int waited = 0; length <= kMaxReasonBytes && waited < kReasonWaitMillis;) {
        pollfd fd{d.readyRead, POLLIN, 0};
        if (::poll(&fd, 1, 10) <= 0) {
            waited += 10;
            continue;
        }
        char byte = 0;
        const ssize_t n = ::read(d.readyRead, &byte, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || byte == '\n') break;
        line[length++] = static_cast<unsigned char>(byte) < 0x20 || byte == 0x7f ? ' ' : byte;
    }
    line[length++] = '\n';
    ssize_t ignored = ::write(d.reportWrite, line, length);
    (void)ignored;
}

int ExitCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 128;
}

void MarkCloseOnExecFrom(int first, int sweepLimit) {
    if (::syscall(SYS_close_range, first, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
    for (int fd = first; fd < sweepLimit; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

[[noreturn]] void RunProgram(const char* path, char* const argv[], char* const envp[], const char* workingDir,
                             const Descriptors& d, int sweepLimit) {
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    for (int s = 1; s < NSIG; ++s)
        if (s != SIGKILL && s != SIGSTOP) ::sigaction(s, &standard, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (::dup2(d.devNull, 0) >= 0 && ::dup2(d.log, 1) >= 0 && ::dup2(d.log, 2) >= 0 &&
        ::dup2(d.readyWrite, kReadyFd) >= 0 && (d.lock < 0 || ::dup2(d.lock, kLockFd) >= 0) &&
        (!*workingDir || ::chdir(workingDir) == 0)) {
        MarkCloseOnExecFrom(d.lock < 0 ? kReadyFd + 1 : kLockFd + 1, sweepLimit);
        ::execve(path, argv, envp);
    }
    Report(d.reportWrite, 'E', errno);
    ::_exit(127);
}

// Reports the program's end when it comes within `graceMillis`, else `tag`.
[[noreturn]] void ReportEnd(pid_t program, const Descriptors& d, int graceMillis, char tag) {
    for (int waited = 0;; waited += 10) {
        int status = 0;
        if (::waitpid(program, &status, WNOHANG) == program) {
            Report(d.reportWrite, 'X', ExitCode(status));
            ::_exit(0);
        }
        if (waited >= graceMillis) break;
        ::poll(nullptr, 0, 10);
    }
    Report(d.reportWrite, tag, 0);
    ::_exit(0);
}

// The child in between: relays the program's readiness or its end to the
// caller and exits, leaving the program to init.
[[noreturn]] void Supervise(pid_t program, const Descriptors& d) {
    Report(d.reportWrite, 'P', program);
    for (;;) {
        pollfd fds[2] = {{d.readyRead, POLLIN, 0}, {d.cancelRead, POLLIN, 0}};
        const int ready = ::poll(fds, 2, kSupervisePollMillis);
        if (ready > 0 && fds[0].revents != 0) {
            char byte = 0;
            const ssize_t n = ::read(d.readyRead, &byte, 1);
            if (n == 1 && byte == 'R') {
                Report(d.reportWrite, 'R', 0);
                ::_exit(0);
            }
            if (n == 1 && byte == 'F') {
                RelayRefusal(d);
                ReportEnd(program, d, kRefusalGraceMillis, 'C');
            }
            if (n == 0) ReportEnd(program, d, kExitGraceMillis, 'C');
        }
        if (ready > 0 && fds[1].revents != 0) {
            ::kill(program, SIGKILL);
            int status = 0;
            while (::waitpid(program, &status, 0) < 0 && errno == EINTR) {
            }
            Report(d.reportWrite, 'X', ExitCode(status));
            ::_exit(0);
        }
        int status = 0;
        if (::waitpid(program, &status, WNOHANG) == program) {
            Report(d.reportWrite, 'X', ExitCode(status));
            ::_exit(0);
        }
    }
}

struct Reports {
    long pid = 0;
    bool ready = false;
    bool closedReady = false;
    bool exited = false;
    long exitCode = 0;
    bool execFailed = false;
    long execErrno = 0;
    std::string refusal;
};

void ParseReports(const std::string& text, Reports& r) {
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) break;
        const char tag = text[at];
        const long value = std::strtol(text.c_str() + at + 1, nullptr, 10);
        if (tag == 'P') r.pid = value;
        if (tag == 'R') r.ready = true;
        if (tag == 'C') r.closedReady = true;
        if (tag == 'X' && !r.exited) {
            r.exited = true;
            r.exitCode = value;
        }
        if (tag == 'E' && !r.execFailed) {
            r.execFailed = true;
            r.execErrno = value;
        }
        if (tag == 'M') r.refusal = text.substr(at + 1, end - at - 1);
        at = end + 1;
    }
}

// Reads the reports until the supervisor is gone or the deadline passes.
bool ReadReports(int fd, const Deadline& deadline, std::string& text) {
    char buffer[128];
    while (text.size() < 4096) {
        const int ready = WaitForFd(fd, POLLIN, deadline);
        if (ready == 0) return false;
        if (ready < 0) return true;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0 && errno != EINTR && errno != EAGAIN) return true;
        if (n > 0) text.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

int FdSweepLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kMaxFdSweep;
    return static_cast<int>(std::min<rlim_t>(limit.rlim_cur, kMaxFdSweep));
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(&s[0]);
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

std::string ResolveProgram(const std::string& name) {
    if (name.empty()) {
        errno = ENOENT;
        return "";
    }
    if (name.find('/') != std::string::npos) return name;  // exec says what is wrong with it
    const char* path = std::getenv("PATH");
    const std::string dirs = path && *path ? path : "/usr/bin:/bin";
    int code = ENOENT;
    for (size_t at = 0; at <= dirs.size();) {
        size_t end = dirs.find(':', at);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = end > at ? dirs.substr(at, end - at) : ".";
        const std::string candidate = dir + "/" + name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            if (::access(candidate.c_str(), X_OK) == 0) return candidate;
            code = EACCES;
        }
        at = end + 1;
    }
    errno = code;
    return "";
}

SpawnResult SpawnService(const SpawnRequest& request) {
    SpawnResult result;
    if (request.argv.empty()) {
        result.errorNumber = EINVAL;
        result.reason = "no program given";
        return result;
    }
    const std::string program = ResolveProgram(request.argv[0]);
    if (program.empty()) {
        result.errorNumber = errno;
        result.reason = "cannot find program " + request.argv[0] + ": " + ErrnoText(errno);
        return result;
    }
    Descriptors d;
    if (int code = OpenDescriptors(request, d)) {
        result.errorNumber = code;
        result.reason = "cannot prepare the start: " + ErrnoText(code);
        return result;
    }
    std::vector<std::string> argvStrings = request.argv;
    std::vector<std::string> envStrings = request.environment;
    envStrings.push_back("ZO_ODS_READY_FD=" + std::to_string(kReadyFd));
    if (d.lock >= 0) envStrings.push_back("ZO_ODS_LOCK_FD=" + std::to_string(kLockFd));
    std::vector<char*> argv = Pointers(argvStrings);
    std::vector<char*> envp = Pointers(envStrings);
    const int sweepLimit = FdSweepLimit();

    // Signals stay blocked across the fork so no handler of the caller runs
    // in a child; the program gets default dispositions and an empty mask.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        ::close(d.reportRead);
        ::close(d.cancelWrite);
        const pid_t started = ::fork();
        if (started < 0) {
            Report(d.reportWrite, 'E', errno);
            ::_exit(1);
        }
        if (started == 0)
            RunProgram(program.c_str(), argv.data(), envp.data(), request.workingDir.c_str(), d, sweepLimit);
        ::close(d.readyWrite);
        Supervise(started, d);
    }
    const int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (child < 0) {
        result.errorNumber = forkError;
        result.reason = "fork: " + ErrnoText(forkError);
        return result;
    }
    for (int* fd : {&d.devNull, &d.log, &d.lock, &d.readyRead, &d.readyWrite, &d.reportWrite, &d.cancelRead})
        Descriptors::CloseOne(*fd);

    std::string text;
    const bool finished = ReadReports(d.reportRead, Deadline::FromMillis(request.readyTimeoutMillis), text);
    if (!finished) {
        Descriptors::CloseOne(d.cancelWrite);  // the supervisor kills the program and reports
        ReadReports(d.reportRead, Deadline::FromMillis(kCancelGraceMillis), text);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }

    Reports reports;
    ParseReports(text, reports);
    result.pid = static_cast<int>(reports.pid);
    if (reports.execFailed) {
        result.errorNumber = reports.execErrno;
        result.reason = "cannot start " + program + ": " + ErrnoText(static_cast<int>(reports.execErrno));
    } else if (reports.ready) {
        result.errorNumber = 0;
    } else if (!finished) {
        result.errorNumber = ETIMEDOUT;
        result.reason = program + " was not ready within " + std::to_string(request.readyTimeoutMillis) + " ms";
    } else if (reports.exited) {
        // Status 0 before readiness is still a failed start: never report it as success.
        result.errorNumber = reports.exitCode != 0 ? reports.exitCode : ECHILD;
        result.reason = program + " ended before it was ready (exit " + std::to_string(reports.exitCode) + ")";
    } else if (reports.closedReady) {
        result.errorNumber = EPROTO;
        result.reason = program + (reports.refusal.empty() ? " closed its ready descriptor without reporting ready"
                                                           : " refused to start but did not end");
    } else {
        result.errorNumber = ECHILD;
        result.reason = "the start of " + program + " ended without a report";
    }
    result.refusal = reports.refusal;
    if (!result.refusal.empty()) result.reason += ": " + result.refusal;
    if (result.errorNumber != 0) result.pid = 0;
    return result;
}

}  // namespace zo
