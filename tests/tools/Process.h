// Runs a program with an argument vector (posix_spawn, no shell) and
// collects what it prints. Collection ends when the program exits, not at
// end of file, so a service it launched and that kept the descriptors
// cannot hold the caller up.
#pragma once

#include <string>
#include <vector>

namespace zotest {

struct ProcessResult {
    int exitCode = -1;  // exit status; 128 + signal when killed by one
    std::string out;
    std::string err;
};

// `env` entries ("NAME=value") are added to the caller's environment,
// replacing variables of the same name; an entry without '=' ("NAME")
// removes that variable. The program is killed after
// `timeoutSec` (exit code then 128 + SIGKILL).
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                         int timeoutSec = 60);

}  // namespace zotest
