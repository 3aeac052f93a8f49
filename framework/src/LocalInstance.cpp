#include "LocalInstance.h"

#include "IdentityCheck.h"
#include "InstanceDir.h"
#include "SessionHandshake.h"
#include "SocketTransport.h"
#include "Spawner.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace zo {

namespace {

constexpr size_t kSmallFileBytes = 256;
// The launchers' lock may be held by one that is itself waiting for a start.
constexpr long long kLockSlackMillis = 5000;
// Between probes of a busy instance, or of one on its way out.
constexpr auto kProbeRetry = std::chrono::milliseconds(100);
// How long a forced stop lets SIGTERM work before SIGKILL.
constexpr long long kForceGraceMillis = 2000;

// "10 s", "0.5 s".
std::string Seconds(long long millis) {
    std::string text = std::to_string(millis / 1000);
    if (millis % 1000 != 0) {
        std::string fraction = std::to_string(1000 + millis % 1000).substr(1);
        fraction.erase(fraction.find_last_not_of('0') + 1);
        text += "." + fraction;
    }
    return text + " s";
}

std::string Pid(long pid) { return pid > 0 ? "pid " + std::to_string(pid) : "pid unknown"; }

std::vector<std::string> ServiceEnvironment(const std::string& service, const std::string& client,
                                            const InstancePaths& paths, const std::string& session, int idleExitSec) {
    std::vector<std::string> environment;
    for (char** entry = environ; entry && *entry; ++entry)
        if (std::strncmp(*entry, "ZO_ODS_", 7) != 0) environment.emplace_back(*entry);
    environment.push_back("ZO_ODS_SERVICE=" + service);
    environment.push_back("ZO_ODS_CLIENT=" + client);
    environment.push_back("ZO_ODS_ENDPOINT=unix:" + paths.socket);
    environment.push_back("ZO_ODS_SESSION=" + session);
    environment.push_back("ZO_ODS_INSTANCE_DIR=" + paths.dir);
    environment.push_back("ZO_ODS_IDLE_EXIT=" + std::to_string(idleExitSec));
    return environment;
}

// Waits until the deadline for the life lock to come free; true when it did
// (and is then held by `claim`).
bool WaitUntilGone(InstanceClaim& claim, const std::string& pidPath, const Deadline& deadline) {
    for (;;) {
        if (claim.TryTake(pidPath) == 0) return true;
        if (deadline.Expired()) return false;
        std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(
            kProbeRetry, std::chrono::milliseconds(std::max(1, deadline.PollMillis()))));
    }
}

// Why a live instance that holds its lock did not answer, and how to recover.
std::string Unresponsive(long pid, long long millis, const std::string& lastError) {
    const std::string id = pid > 0 ? std::to_string(pid) : std::string("PID");
    const char state = ProcessState(pid);
    std::string text = "the running instance (" + Pid(pid) + ") did not answer within " + Seconds(millis);
    if (state == 'T' || state == 't')
        text += ": it is stopped; resume it (kill -CONT " + id + ") or end it (kill -KILL " + id + ")";
    else
        text += " (" + lastError + "): it is hung or overloaded; end it (kill " + id + ", or kill -KILL " + id +
                " if it does not end)";
    return text + "; its files are left alone, and once it has ended the next launch starts a fresh instance";
}

enum class Live { Reused, Gone, Failed };

// A live instance (its life lock is held): reused once it answers its
// session; waited for while it is busy or on its way out (no connection,
// or closed at once). Gone: it ended meanwhile and `claim` now holds its
// lock. Failed: the outcome's error number and `reason` say why.
Live ReachLive(const InstancePaths& paths, const ServiceEntry& entry, long long timeoutMillis, InstanceClaim& claim,
               LaunchOutcome& outcome, std::string& reason) {
    InstanceRecord record;
    ReadRecord(paths.pid, record);
    std::string serves;
    std::string difference;
    if (!SameIdentity(paths.identity, entry.argv, serves, difference)) {
        outcome.errorNumber = EEXIST;
        reason = "the running instance (" + Pid(record.pid) + ") serves " + serves + ", but " + difference +
                 "; end it (it is restarted with this caller's settings) or use the settings it was started with";
        return Live::Failed;
    }
    std::string session;
    ReadPrivateFile(paths.session, kSmallFileBytes, session);
    const Deadline deadline = Deadline::FromMillis(timeoutMillis);
    int code = 0;
    std::string error;
    for (;;) {
        CZoNetwork probe;
        code = PresentSession(probe, outcome.endpoint, session, deadline, error);
        if (code == 0) {
            outcome.sessionId = session;
            outcome.processId = record.pid;
            return Live::Reused;
        }
        const bool retry = code == EBUSY || code == ECONNREFUSED || code == EIO;
        if (code != EBUSY && claim.TryTake(paths.pid) == 0) return Live::Gone;
        if (!retry || deadline.Expired()) break;
        std::this_thread::sleep_for(kProbeRetry);
    }
    outcome.errorNumber = code == EBUSY || code == EACCES ? code : ETIME;
    if (code == EBUSY)
        reason = "the running instance (" + Pid(record.pid) + ") stayed busy for " + Seconds(timeoutMillis) +
                 ": every connection it serves was taken (" + error + "); try again later";
    else if (code == EACCES)
        reason = "the running instance (" + Pid(record.pid) + ") refused the session recorded for it: " + error;
    else
        reason = Unresponsive(record.pid, timeoutMillis, error);
    return Live::Failed;
}

// Starts the entry's program with the life lock that `claim` holds.
void StartInstance(const std::string& service, const std::string& client, const ServiceEntry& entry,
                   const InstancePaths& paths, long long timeoutMillis, InstanceClaim& claim,
                   LaunchOutcome& outcome, std::string& reason) {
    // No instance lives: whatever it left behind goes.
    ::unlink(paths.socket.c_str());
    ::unlink(paths.identity.c_str());
    if ((outcome.errorNumber = claim.Write("", reason)) != 0) return;
    const std::string session = NewSessionId();
    if (session.empty()) {
        outcome.errorNumber = errno;
        reason = "cannot read /dev/urandom: " + ErrnoText(errno);
        return;
    }
    if ((outcome.errorNumber = WritePrivateFile(paths.session, session, reason)) != 0) return;
    SpawnRequest request;
    request.argv = entry.argv;
    request.environment = ServiceEnvironment(service, client, paths, session, entry.idleExitSec);
    request.workingDir = paths.dir;
    request.logPath = paths.log;
    request.readyTimeoutMillis = timeoutMillis;
    request.lockFd = claim.Fd();
    const SpawnResult started = SpawnService(request);
    outcome.errorNumber = started.errorNumber;
    if (started.errorNumber != 0) {
        reason = "it did not start: " + started.reason;
        return;
    }
    const InstanceRecord record{started.pid, ProcessStartTime(started.pid)};
    if ((outcome.errorNumber = claim.Write(FormatRecord(record), reason)) != 0) {
        ::kill(started.pid, SIGTERM);  // without its record the instance could not be verified later
        return;
    }
    claim.Release();  // the program holds the lock from now on
    outcome.sessionId = session;
    outcome.processId = started.pid;
}

// The instance's paths, its folders checked private; 0 or an errno with `reason`.
int InstancePathsFor(const std::string& service, const std::string& client, bool create, InstancePaths& paths,
                     std::string& reason) {
    std::string root;
    if (!RuntimeRoot(root, reason)) return EINVAL;
    paths = PathsFor(root, service, client);
    if (paths.socket.size() >= sizeof(sockaddr_un::sun_path)) {
        reason = "socket path " + paths.socket + " is too long for a unix socket";
        return ENAMETOOLONG;
    }
    struct stat st {};
    if (!create && ::lstat(paths.dir.c_str(), &st) != 0 && errno == ENOENT) return ENOENT;
    return PrepareInstanceDir(paths, reason);
}

int LockInstance(InstanceLock& lock, const InstancePaths& paths, long long timeoutMillis, std::string& reason) {
    const int code = lock.Acquire(paths.lock, Deadline::FromMillis(timeoutMillis + kLockSlackMillis));
    if (code == EAGAIN)
        reason = "another launcher kept the instance's lock " + paths.lock + " for " +
                 Seconds(timeoutMillis + kLockSlackMillis);
    else if (code != 0)
        reason = "cannot lock " + paths.lock + ": " + ErrnoText(code);
    return code;
}

// True when the recorded process is the one recorded at the start and holds
// the pid file open (the description that carries the life lock). Besides
// the instance only launchers open that file, under the launchers' lock that
// the caller holds, so no other process can pass; the caller itself is
// excluded.
bool IsTheInstance(const InstanceRecord& record, const std::string& pidPath) {
    if (record.pid <= 0 || record.pid == ::getpid() || record.startTime <= 0 ||
        ProcessStartTime(record.pid) != record.startTime)
        return false;
    struct stat own {};
    if (::stat(pidPath.c_str(), &own) != 0) return false;
    const std::string fds = "/proc/" + std::to_string(record.pid) + "/fd";
    DIR* folder = ::opendir(fds.c_str());
    bool holds = false;
    while (dirent* entry = folder && !holds ? ::readdir(folder) : nullptr) {
        struct stat st {};
        holds = entry->d_name[0] != '.' && ::stat((fds + "/" + entry->d_name).c_str(), &st) == 0 &&
                st.st_dev == own.st_dev && st.st_ino == own.st_ino;
    }
    if (folder) ::closedir(folder);
    return holds;
}

}  // namespace

LaunchOutcome LaunchLocalInstance(const std::string& service, const std::string& client, const ServiceEntry& entry,
                                  InstanceMode mode, std::string& reason) {
    LaunchOutcome outcome;
    outcome.serviceName = service;
    InstancePaths paths;
    const long long timeoutMillis = LaunchTimeoutMillis();
    if ((outcome.errorNumber = InstancePathsFor(service, client, mode == InstanceMode::StartOrReuse, paths,
                                                reason)) != 0) {
        if (outcome.errorNumber == ENOENT) {  // never launched, so nothing runs
            outcome.errorNumber = ESRCH;
            reason = "no instance runs";
        }
        return outcome;
    }
    outcome.endpoint = "unix:" + paths.socket;
    InstanceLock lock;
    if ((outcome.errorNumber = LockInstance(lock, paths, timeoutMillis, reason)) != 0) return outcome;

    InstanceClaim claim;
    int claimed = claim.TryTake(paths.pid);
    if (claimed == EWOULDBLOCK) {
        switch (ReachLive(paths, entry, timeoutMillis, claim, outcome, reason)) {
            case Live::Reused: return outcome;
            case Live::Failed: reason += "; its log: " + paths.log; return outcome;
            case Live::Gone: claimed = 0; break;
        }
    }
    if (claimed != 0) {
        outcome.errorNumber = claimed;
        reason = "cannot lock " + paths.pid + ": " + ErrnoText(claimed);
    } else if (mode == InstanceMode::FindOnly) {
        outcome.errorNumber = ESRCH;
        reason = "no instance runs";
    } else {
        StartInstance(service, client, entry, paths, timeoutMillis, claim, outcome, reason);
        if (outcome.errorNumber != 0) reason += "; its log: " + paths.log;
    }
    return outcome;
}

StopOutcome StopLocalInstance(const std::string& service, const std::string& client, bool force) {
    StopOutcome stop;
    InstancePaths paths;
    const long long timeoutMillis = LaunchTimeoutMillis();
    const int prepared = InstancePathsFor(service, client, false, paths, stop.reason);
    if (prepared == ENOENT) return stop;  // never launched: nothing to stop
    InstanceLock lock;
    if ((stop.errorNumber = prepared) != 0 ||
        (stop.errorNumber = LockInstance(lock, paths, timeoutMillis, stop.reason)) != 0)
        return stop;

    InstanceClaim claim;
    const int claimed = claim.TryTake(paths.pid);
    if (claimed == 0) return stop;  // no instance lives
    if (claimed != EWOULDBLOCK) {
        stop.errorNumber = claimed;
        stop.reason = "cannot lock " + paths.pid + ": " + ErrnoText(claimed);
        return stop;
    }
    InstanceRecord record;
    ReadRecord(paths.pid, record);
    stop.pid = record.pid;
    const auto signal = [&](int number) {
        if (IsTheInstance(record, paths.pid)) return ::kill(static_cast<pid_t>(record.pid), number) == 0;
        if (claim.TryTake(paths.pid) == 0) return true;  // it ended meanwhile
        stop.errorNumber = ESRCH;
        stop.reason = "the instance's lock is held, but " + Pid(record.pid) +
                      " is not the process recorded at its start; nothing was signalled";
        return false;
    };

    if (!signal(SIGTERM)) return stop;
    if (WaitUntilGone(claim, paths.pid, Deadline::FromMillis(force ? std::min(kForceGraceMillis, timeoutMillis)
                                                                   : timeoutMillis)))
        return stop;
    if (!force) {
        stop.errorNumber = ETIME;
        const char state = ProcessState(record.pid);
        stop.reason = "the running instance (" + Pid(record.pid) + ") did not stop within " +
                      Seconds(timeoutMillis) + " of SIGTERM: it is " +
                      (state == 'T' || state == 't' ? "stopped" : "hung or busy") + "; force it";
        return stop;
    }
    if (!signal(SIGKILL)) return stop;
    // A killed process lets go of its files once all its threads are gone.
    if (WaitUntilGone(claim, paths.pid, Deadline::FromMillis(timeoutMillis))) return stop;
    stop.errorNumber = ETIME;
    stop.reason = "the running instance (" + Pid(record.pid) + ") still holds its lock " + Seconds(timeoutMillis) +
                  " after SIGKILL";
    return stop;
}

}  // namespace zo
