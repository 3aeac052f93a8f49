// The registry of on-demand services: [OnDemandServices] in the
// configuration, each entry overridable by the environment (docs/LAUNCHER.md).
//
//   <name> = PROGRAM ARG...           a program to start per client
//   <name> = tcp:HOST:PORT | tls:HOST:PORT | unix:PATH | inproc:NAME
//                                     a running service
//   <name>.session = ID               session of a running service
//   <name>.tls_ca, .tls_cert, .tls_key = FILE   TLS of a tls: service
//   <name>.idle_exit = SECONDS        idle exit handed to started programs
//
// Environment: ZO_SERVICE_<name>, ZO_SERVICE_<name>_SESSION,
// ZO_SERVICE_<name>_TLS_CA, _TLS_CERT, _TLS_KEY and
// ZO_SERVICE_<name>_IDLE_EXIT win over the keys above.
#pragma once

#include "zo/TlsSettings.h"

#include <string>
#include <vector>

namespace zo {

struct ServiceEntry {
    bool running = false;            // true: `endpoint` names a running service
    std::vector<std::string> argv;   // the program and its arguments
    std::string endpoint;
    std::string sessionId;
    int idleExitSec = 0;
};

// False with the reason when `service` has no entry, an empty one, or a bad
// idle time.
bool LookupService(const std::string& service, ServiceEntry& entry, std::string& error);

// The TLS settings of `service`'s entry (each absent key: empty).
TlsClientSettings LookupTlsClient(const std::string& service);

// Splits at blanks (spaces and tabs); no quoting, no shell.
std::vector<std::string> SplitArguments(const std::string& text);

// The launch time limit in milliseconds: ZO_LAUNCH_TIMEOUT in seconds (a
// decimal fraction is allowed, e.g. "0.5"), bounded to 0.01..600; default 10.
long long LaunchTimeoutMillis();

}  // namespace zo
