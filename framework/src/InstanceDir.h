// The runtime folder of on-demand service instances and the files of one
// instance: <root>/<service>/<client>/{socket,pid,session,lock,service.log}.
#pragma once

#include "Deadline.h"

#include <string>

namespace zo {

constexpr size_t kMaxInstanceNameBytes = 64;

// Service and client names become folder names: 1 to 64 bytes of
// [A-Za-z0-9._-], not starting with '.', no "..". False with the reason.
bool ValidInstanceName(const std::string& name, std::string& why);

// $ZO_RUNTIME_DIR when set and not empty; else /run/zo for root, else
// $XDG_RUNTIME_DIR/zo, else /tmp/zo-<uid>.
std::string RuntimeRoot();

struct InstancePaths {
    std::string root;
    std::string serviceDir;
    std::string dir;
    std::string socket;
    std::string pid;
    std::string session;
    std::string lock;
    std::string log;
};

InstancePaths PathsFor(const std::string& root, const std::string& service, const std::string& client);

// Creates the three folder levels private (0700) or checks them. 0 or errno.
int PrepareInstanceDir(const InstancePaths& paths, std::string& error);

// Replaces `path` with `content`, mode 0600, atomically (temporary + rename).
int WritePrivateFile(const std::string& path, const std::string& content, std::string& error);

// Reads a small file that this user owns; false when absent, larger than
// maxBytes, a link, or not a regular file.
bool ReadPrivateFile(const std::string& path, size_t maxBytes, std::string& content);

// 128 bits from /dev/urandom as 32 hex digits; empty (errno set) on failure.
std::string NewSessionId();

// An exclusive flock(2) on the instance's lock file, held until destruction.
// Taken per open file, so two threads of one process exclude each other too.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // 0, ETIMEDOUT when another holder kept it past the deadline, or errno.
    int Acquire(const std::string& path, const Deadline& deadline);

private:
    int m_fd = -1;
};

}  // namespace zo
