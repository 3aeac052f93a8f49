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
//   ZO_ODS_READY_FD      descriptor to write "R" to and close once listening
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
    int idleExitSec = 0;
};

LaunchContext LaunchContextFromEnvironment();

}  // namespace zo
