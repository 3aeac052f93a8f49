// LaunchContext: what the on-demand launcher hands a service it spawns.
//
// The launcher starts the program (no shell) with these variables in its
// environment; the service reads them back with LaunchContextFromEnvironment()
// and listens where it is told, checks the session identifier it is given,
// and reports readiness on the descriptor:
//   ZO_ODS_SERVICE       service name, e.g. "ZoScsiSrv"
//   ZO_ODS_CLIENT        client name the instance serves
//   ZO_ODS_ENDPOINT      "unix:PATH" to listen on
//   ZO_ODS_SESSION       session identifier every connection must present
//   ZO_ODS_INSTANCE_DIR  the instance's private folder (0700)
//   ZO_ODS_READY_FD      descriptor to report on once: "R" when listening, or
//                        why the program will not serve (ReportRefusal)
//   ZO_ODS_LOCK_FD       descriptor of the instance's pid file, locked (flock)
//                        for the launcher: held as long as the program lives,
//                        it tells launchers that the instance is alive
//   ZO_ODS_IDLE_EXIT     seconds without connections after which to exit (0: never)
#pragma once

#include <string>

namespace zo {

struct LaunchContext {
    bool launched = false;  // true when ZO_ODS_ENDPOINT is set
    std::string service;
    std::string client;
    std::string endpoint;
    std::string sessionId;
    std::string instanceDir;
    int readyFd = -1;
    int lockFd = -1;
    int idleExitSec = 0;
};

// Reads the variables above. The lock descriptor is marked close-on-exec
// here, so that programs the service starts in turn (which may outlive it)
// never hold its instance's lock.
LaunchContext LaunchContextFromEnvironment();

// Report on the ready descriptor, once: ReportReady writes "R";
// ReportRefusal writes "F" and one line saying why the program will not
// serve (line breaks become blanks, at most 1 KiB), which the launcher hands
// to its caller with the program's exit status. Either closes the descriptor
// and sets it to -1, so that a later report does nothing: a descriptor
// number closed once may be reused by any file of the process.
void ReportReady(int& readyFd);
void ReportRefusal(int& readyFd, const std::string& reason);

}  // namespace zo
