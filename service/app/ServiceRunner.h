// ServiceRunner: one instance from start to exit: the state folder and its
// lock, the inventory, the backend, the listener, and the signals that stop
// it. The exit statuses are documented in docs/SERVICE.md.
#pragma once

#include "app/ServiceConfig.h"

namespace zoscsi {

enum ExitStatus : int {
    kExitOk = 0,
    kExitUsage = 64,
    kExitFailure = 70,      // the endpoint could not be listened on, or an unexpected failure
    kExitCantCreate = 73,   // the state folder (or the instance folder) cannot be written: read-only, no room, ...
    kExitInventory = 74,    // the inventory is unreadable, corrupt, missing or newer
    kExitLocked = 75,       // another instance serves the same state folder
    kExitConfig = 78,       // a setting is unusable (unknown backend, bad value, state folder)
};

class SystemdNotify;

// `reloadSources` are read again by the "reload" command word; `systemd`
// hears of readiness, keep-alives and the stop.
int RunService(const ServiceConfig& config, const ConfigSources& reloadSources, const SystemdNotify& systemd);

// The whole program: arguments to exit status.
int ServiceMain(int argc, char** argv);

}  // namespace zoscsi
