// Instances of on-demand services on this node: one per (service, client),
// found in the runtime folder, started, or stopped.
//
// Every step runs under the launchers' lock of the instance (InstanceLock),
// and an instance's files are replaced only by whoever holds its life lock
// (InstanceClaim): a live instance, busy, stopped or hung, is never
// orphaned, only reported with its pid.
#pragma once

#include "LaunchOutcome.h"
#include "ServiceRegistry.h"

#include <string>

namespace zo {

enum class InstanceMode {
    StartOrReuse,  // reuse the live instance, or start one
    FindOnly,      // reuse the live instance; none: ESRCH
};

// Reuses the live instance once it answers its session (waiting, bounded by
// the launch time limit, while it is busy or going away), or starts the
// entry's program and waits (bounded) until it is ready. A failure is
// reported in the outcome's error number, never thrown; `reason` then says
// why, with the pid of a live instance and the path of its log.
LaunchOutcome LaunchLocalInstance(const std::string& service, const std::string& client, const ServiceEntry& entry,
                                  InstanceMode mode, std::string& reason);

struct StopOutcome {
    int errorNumber = 0;  // 0: no instance lives any more; else an errno
    long pid = 0;         // the instance that was stopped; 0 when none ran
    std::string reason;
};

// Ends the live instance: SIGTERM, and with `force` SIGKILL when it has not
// ended within a short grace. Before each signal it verifies that the
// process is the instance: its start time is the one recorded at its start
// and it holds the instance's pid file open, whose lock is held; a reused
// pid is never signalled. Waits (bounded) until the lock is free.
StopOutcome StopLocalInstance(const std::string& service, const std::string& client, bool force);

}  // namespace zo
