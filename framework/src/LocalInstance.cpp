#include "LocalInstance.h"

#include "InstanceDir.h"
#include "SessionHandshake.h"
#include "SocketTransport.h"
#include "Spawner.h"

#include <signal.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace zo {

namespace {

constexpr size_t kSmallFileBytes = 256;
// The lock may be held by a launcher that is itself waiting for a start.
constexpr long long kLockSlackMillis = 5000;

bool ProcessAlive(long pid) { return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

// The instance recorded in the folder, when it still serves its session.
bool ReuseRecorded(const InstancePaths& paths, LaunchOutcome& outcome) {
    std::string pidText;
    std::string session;
    if (!ReadPrivateFile(paths.pid, kSmallFileBytes, pidText) ||
        !ReadPrivateFile(paths.session, kSmallFileBytes, session) || session.empty())
        return false;
    const long pid = std::strtol(pidText.c_str(), nullptr, 10);
    if (!ProcessAlive(pid)) return false;
    CZoNetwork probe;
    std::string error;
    if (PresentSession(probe, outcome.endpoint, session, LaunchTimeoutSeconds(), error) != 0) return false;
    outcome.sessionId = session;
    outcome.processId = pid;
    return true;
}

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

}  // namespace

LaunchOutcome StartOrReuseInstance(const std::string& service, const std::string& client, const ServiceEntry& entry,
                                   std::string& reason) {
    LaunchOutcome outcome;
    outcome.serviceName = service;
    const InstancePaths paths = PathsFor(RuntimeRoot(), service, client);
    outcome.endpoint = "unix:" + paths.socket;
    if (paths.socket.size() >= sizeof(sockaddr_un::sun_path)) {
        outcome.errorNumber = ENAMETOOLONG;
        reason = "socket path " + paths.socket + " is too long for a unix socket";
        return outcome;
    }
    if (int code = PrepareInstanceDir(paths, reason)) {
        outcome.errorNumber = code;
        return outcome;
    }
    const long long timeoutMillis = LaunchTimeoutMillis();
    InstanceLock lock;
    if (int code = lock.Acquire(paths.lock, Deadline::FromMillis(timeoutMillis + kLockSlackMillis))) {
        outcome.errorNumber = code;
        reason = "cannot lock " + paths.lock + ": " + ErrnoText(code);
        return outcome;
    }
    if (ReuseRecorded(paths, outcome)) return outcome;

    // Whatever is recorded is dead or deaf: start afresh. The old socket
    // file goes, so the new instance can bind even if a deaf one lives on.
    ::unlink(paths.pid.c_str());
    ::unlink(paths.socket.c_str());
    const std::string session = NewSessionId();
    if (session.empty()) {
        outcome.errorNumber = errno;
        reason = "cannot read /dev/urandom: " + ErrnoText(errno);
        return outcome;
    }
    if (int code = WritePrivateFile(paths.session, session, reason)) {
        outcome.errorNumber = code;
        return outcome;
    }
    SpawnRequest request;
    request.argv = entry.argv;
    request.environment = ServiceEnvironment(service, client, paths, session, entry.idleExitSec);
    request.workingDir = paths.dir;
    request.logPath = paths.log;
    request.readyTimeoutMillis = timeoutMillis;
    const SpawnResult started = SpawnService(request);
    outcome.errorNumber = started.errorNumber;
    reason = started.reason;
    if (started.errorNumber != 0) return outcome;
    if (int code = WritePrivateFile(paths.pid, std::to_string(started.pid), reason)) {
        outcome.errorNumber = code;  // without its pid file the instance could not be found again
        ::kill(started.pid, SIGTERM);
        return outcome;
    }
    outcome.sessionId = session;
    outcome.processId = started.pid;
    return outcome;
}

}  // namespace zo
