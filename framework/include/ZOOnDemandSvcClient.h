// ZOOnDemandSvcClient: the on-demand service launcher.
//
// The registry of services is the [OnDemandServices] section of the
// configuration: one key per service name whose value is either the program
// and its arguments (separated by blanks; no shell is involved) or the
// endpoint of a running service ("tcp:HOST:PORT", "unix:PATH" or
// "inproc:NAME"). The environment variable ZO_SERVICE_<name> overrides the
// entry. Instances live in ZO_RUNTIME_DIR (default /run/zo for root, else
// $XDG_RUNTIME_DIR/zo or /tmp/zo-<uid>), one folder per service and client.
#pragma once

#include "CNSession.h"
#include "CYbError.h"
#include "CZoNetwork.h"

class ZOOnDemandSvcClient {
public:
    ZOOnDemandSvcClient();
    ~ZOOnDemandSvcClient();

    // Reuses the live instance of the requested service for the requested
    // client name, or starts one and waits (bounded) until it is ready. Fills
    // the details: launch error number (0 on success, else the reason: an
    // errno of the start, or the program's exit status), session identifier,
    // service name, endpoint and process id. An error return means the
    // request itself could not be handled (no such service, bad names).
    CYbError SubmitTask(CNSession::LaunchOnDemandServiceReq& request,
                        CNSession::LaunchOnDemandServiceDetails& details);

    // Connects `network` to the endpoint of the details and presents the
    // session identifier; the service must accept it.
    CYbError Attach(CNSession::LaunchOnDemandServiceDetails& details, CZoNetwork& network);
};
