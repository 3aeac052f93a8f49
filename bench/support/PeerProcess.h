// The peers of a benchmark in a process of their own, as a service is: the
// client and the peer then cross a real process boundary on every exchange.
//
// Construct it before any thread is started (it forks). The child runs
// `serve`, which sets up its peers and returns; they then serve until the
// parent ends or the object is destroyed (SIGTERM, waited for).
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace zobench {

class PeerProcess {
public:
    explicit PeerProcess(const std::function<void()>& serve);
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

// Writes `bytes` to `path` whole (a temporary file renamed into place).
void WriteFileAtomically(const std::string& path, const std::string& bytes);
// Waits (up to 10 s) until `path` exists and returns its bytes. Throws
// std::runtime_error when it does not appear.
std::string WaitForFile(const std::string& path);

}  // namespace zobench
