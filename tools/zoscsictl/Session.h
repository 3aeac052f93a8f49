// Reaching the service: the client name, the launch of ZoScsiSrv (or only
// the running instance), and stopping the running instance.
#pragma once

#include "CYbError.h"
#include "ZoScsiSrvClient.h"

#include <string>

namespace zoctl {

// `requested` when not empty; else this node's mangled host name.
CYbError ResolveClientName(const std::string& requested, std::string& clientName);

// Has the launcher launch (or reuse) ZoScsiSrv for `clientName` and connects.
// With `runningOnly` the launcher starts nothing (ZO_LAUNCH_NO_START): when
// no instance runs the error says so (NothingRuns).
CYbError Connect(ZoScsiSrvClient& client, const std::string& clientName, bool runningOnly = false);

// True for the error of a running-only Connect that found no instance.
bool NothingRuns(const CYbError& error);

// Ends the running instance for `clientName` through the launcher, which
// verifies its pid, start time and lock first; `force` kills one that does
// not stop. `stoppedPid` is 0 when none ran.
CYbError StopInstance(const std::string& clientName, bool force, long long& stoppedPid);

// Where a launch found the instance stopped or hung, or serving other
// settings: pushes the zoscsictl command that recovers onto the error.
void SuggestRecovery(CYbError& error, const std::string& clientName);

// --timeout: the library's own bounds for one command. The launch time limit
// (ZO_LAUNCH_TIMEOUT) and the receive limit (ZO_RECEIVE_TIMEOUT) are lowered
// to `seconds` where they are longer (or none); 0 changes nothing.
void ApplyTimeout(int seconds);

}  // namespace zoctl
