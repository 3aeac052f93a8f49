// Process: runs a program from an argument vector (posix_spawn, never a
// shell) and keeps it within a time limit.
//
// RunProcess waits for the program, collecting its standard output and
// error, and kills it with SIGKILL (then reaps it) once its limit has
// passed. SpawnChild starts a long-lived program (a daemon in the
// foreground) with its output appended to a log file; the caller owns the
// child and reaps it with ChildProcess.
//
// Children get no standard input (/dev/null), none of the caller's other
// descriptors, default signal dispositions and an empty signal mask, and
// the caller's environment less the names in `unsetEnv` and less the
// service's own (systemd's notify socket and watchdog, the session).
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zoscsi::tgt {

struct ProcessOptions {
    std::chrono::milliseconds limit{10000};
    size_t outputCap = 1 << 20;         // bytes kept of each stream; the rest is drained and dropped
    std::vector<std::string> unsetEnv;  // names removed from the child's environment
};

struct ProcessResult {
    enum class End { Exited, Signaled, TimedOut, NotStarted };
    End end = End::NotStarted;
    int code = 0;           // exit status, or the signal number
    std::string out, err;   // what the program wrote (each up to outputCap)
    bool truncated = false;  // a stream went past outputCap
    std::string startError;  // why it did not start (End::NotStarted)
    std::chrono::milliseconds elapsed{0};

    bool Succeeded() const { return end == End::Exited && code == 0; }
    // One line for an error text: "exit 22: <stderr>", "killed after 10000 ms", ...
    std::string Describe() const;
};

// `argv[0]` is the program's path (not searched in PATH).
ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options);

// A child started by SpawnChild. Destroying the object forgets the child
// without touching it (a daemon may outlive its starter).
class ChildProcess {
public:
    ChildProcess() = default;
    explicit ChildProcess(pid_t pid) : m_pid(pid) {}

    pid_t pid() const { return m_pid; }
    bool started() const { return m_pid > 0; }
    // Reaps it if it has ended; true while it runs.
    bool Running();
    // Waits up to `limit` for it to end; true when it has ended (and is reaped).
    bool WaitFor(std::chrono::milliseconds limit);
    // SIGKILL and reap.
    void Kill();
    // How it ended, once it has: "exit 1", "signal 9".
    const std::string& ending() const { return m_ending; }

private:
    void Reaped(int status);

    pid_t m_pid = -1;
    std::string m_ending;
};

// Starts `argv` with standard output and error appended to `logPath`
// (created 0600). False with a reason.
bool SpawnChild(const std::vector<std::string>& argv, const std::string& logPath,
                const std::vector<std::string>& unsetEnv, ChildProcess& child, std::string& error);

}  // namespace zoscsi::tgt
