// Starting a service program detached from the caller, without a shell.
//
// The program runs in a session of its own as a grandchild (the child in
// between reports and exits, so the caller reaps only that child and the
// service outlives the caller). Standard input is /dev/null, output and
// error go to the log file, and descriptor 3 is the ready descriptor
// (ZO_ODS_READY_FD=3 is added to the environment): the program writes "R"
// to it once it serves, or "F" and a line saying why it will not. A lock
// descriptor of the caller, when given, becomes descriptor 4
// (ZO_ODS_LOCK_FD=4), so the program holds that lock for its whole life.
// No other descriptor of the caller leaks into it.
#pragma once

#include <string>
#include <vector>

namespace zo {

constexpr int kReadyFd = 3;
constexpr int kLockFd = 4;

struct SpawnRequest {
    std::vector<std::string> argv;         // argv[0]: a path, or a name looked up in PATH
    std::vector<std::string> environment;  // complete, "NAME=value"
    std::string workingDir;
    std::string logPath;                   // appended to, created 0600
    long long readyTimeoutMillis = 10000;
    int lockFd = -1;                       // handed on as kLockFd when >= 0 (the caller keeps its own)
};

struct SpawnResult {
    // 0 when ready; an errno of the start (ENOENT for a missing program,
    // ETIMEDOUT when not ready in time: the program is then killed); the
    // exit status of a program that ended before it was ready, or 128 +
    // signal; ECHILD for one that ended with status 0 before it was ready
    // and EPROTO for one that closed the ready descriptor without "R".
    long long errorNumber = 0;
    int pid = 0;
    std::string reason;   // one line: what went wrong, with the program's refusal when it gave one
    std::string refusal;  // the line the program wrote after "F", when it did
};

SpawnResult SpawnService(const SpawnRequest& request);

// The executable that argv[0] names: itself when it holds a '/', else the
// first match in PATH (default "/usr/bin:/bin"). Empty with errno when none.
std::string ResolveProgram(const std::string& name);

}  // namespace zo
