// The runtime folder of on-demand service instances and the files of one
// instance: <root>/<service>/<client>/{socket,pid,session,lock,identity,
// service.log}.
#pragma once

#include "Deadline.h"

#include <string>

namespace zo {

constexpr size_t kMaxInstanceNameBytes = 64;

// Service and client names become folder names: 1 to 64 bytes of
// [A-Za-z0-9._-], not starting with '.', no "..". False with the reason.
bool ValidInstanceName(const std::string& name, std::string& why);

// $ZO_RUNTIME_DIR when set and not empty; else /run/zo for root, else
// $XDG_RUNTIME_DIR/zo, else /tmp/zo-<uid>. A relative ZO_RUNTIME_DIR is
// refused (false with the reason): it would name another folder in every
// working folder, and the service runs in its instance folder.
bool RuntimeRoot(std::string& root, std::string& error);

struct InstancePaths {
    std::string root;
    std::string serviceDir;
    std::string dir;
    std::string socket;
    std::string pid;
    std::string session;
    std::string lock;
    std::string identity;
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

// An exclusive flock(2) on the instance's lock file, held until destruction:
// one launcher at work on an instance at a time. Taken per open file, so two
// threads of one process exclude each other too.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // 0, EAGAIN when another holder kept it past the deadline, or errno.
    int Acquire(const std::string& path, const Deadline& deadline);

private:
    int m_fd = -1;
};

// The pid file is also the instance's life lock: a started program inherits
// a descriptor of it with an exclusive flock(2) taken and holds it until it
// ends (stopped or hung, it still holds it). So whoever can take the lock
// knows that no instance lives, and only then may replace its files.
class InstanceClaim {
public:
    InstanceClaim() = default;
    ~InstanceClaim();
    InstanceClaim(const InstanceClaim&) = delete;
    InstanceClaim& operator=(const InstanceClaim&) = delete;

    // Opens the pid file and tries its lock without waiting. 0 when taken (no
    // instance lives); EWOULDBLOCK when a live instance holds it; else errno.
    int TryTake(const std::string& pidPath);
    // The descriptor with the lock, to hand to the program being started.
    int Fd() const { return m_fd; }
    // Replaces the file's content in place (the lock is on this file).
    int Write(const std::string& content, std::string& error);
    // Closes our descriptor; a program that inherited it keeps the lock.
    void Release();

private:
    int m_fd = -1;
    std::string m_path;
};

// What the pid file records about the instance: its process id and its start
// time (clock ticks after boot, field 22 of /proc/PID/stat), which tells the
// process apart from a later one that reuses the pid.
struct InstanceRecord {
    long pid = 0;
    long long startTime = 0;
};

std::string FormatRecord(const InstanceRecord& record);
bool ReadRecord(const std::string& pidPath, InstanceRecord& record);

// From /proc/PID/stat: the start time (-1 when the process is gone) and the
// state letter ('T' stopped, 'Z' zombie, ...; 0 when gone).
long long ProcessStartTime(long pid);
char ProcessState(long pid);

}  // namespace zo
