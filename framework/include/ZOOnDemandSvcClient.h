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
    // client name, or starts one and waits (bounded) until it is ready, and
    // fills the details: launch error number (0), session identifier,
    // service name, endpoint and process id. A live instance is reused only
    // once it answers; while it is busy (every connection taken) or on its
    // way out it is waited for, within the launch time limit.
    //
    // An error return means that no instance serves the caller, with the
    // reason: the request itself is bad (errno space: 22 bad names, 2 no such
    // service, 22 a relative ZO_RUNTIME_DIR), or the launch failed (launch
    // space: the launch error number, also written into the details, and a
    // message that holds the program's own refusal, the pid of a live
    // instance that could not be used, and the path of the instance's log;
    // docs/LAUNCHER.md lists the numbers). With ZO_LAUNCH_NO_START set (and
    // not "0") in the environment it starts nothing, as FindTask.
    CYbError SubmitTask(CNSession::LaunchOnDemandServiceReq& request,
                        CNSession::LaunchOnDemandServiceDetails& details);

    // The same without ever starting a program: fills the details from the
    // live instance, or returns an error in the errno space with code 3
    // (ESRCH) when none runs. An entry that names a running service by its
    // endpoint is reported as SubmitTask reports it.
    CYbError FindTask(CNSession::LaunchOnDemandServiceReq& request,
                      CNSession::LaunchOnDemandServiceDetails& details);

    // Ends the live local instance of the requested service for the client
    // name: asks it to stop (SIGTERM) and waits for it, bounded by the launch
    // time limit; with `force`, kills it (SIGKILL) when it has not ended
    // within 2 s. Before each signal the process is verified to be that
    // instance (its start time as recorded at its start, and it holds the
    // instance's locked pid file), so a reused pid is never signalled.
    // Success once no instance runs, with the pid that was stopped in
    // `stoppedPid` (0 when none ran); an error (errno space) otherwise:
    // 62 (ETIME) it did not end in time, 3 (ESRCH) the lock holder is not
    // the recorded process, 22 an entry that names a running service.
    CYbError StopTask(CNSession::LaunchOnDemandServiceReq& request, bool force, long long& stoppedPid);

    // Connects `network` to the endpoint of the details and presents the
    // session identifier within the launch time limit; the service must
    // accept it (errno space: 111 no connection, 110 no answer in time, 16
    // every connection of the service is taken, 13 refused, 71 unexpected
    // answer, 5 the connection failed).
    CYbError Attach(CNSession::LaunchOnDemandServiceDetails& details, CZoNetwork& network);
};
