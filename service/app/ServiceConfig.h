// ServiceConfig: everything an instance needs to run, resolved from the
// command line, the launcher's environment and the [ZoScsiSrv] section of
// the configuration, in that order of precedence (docs/SERVICE.md).
#pragma once

#include "app/CommandLine.h"
#include "protocol/ServiceCore.h"
#include "zo/LaunchContext.h"

#include <functional>
#include <string>

namespace zoscsi {

struct ServiceConfig {
    bool launched = false;
    std::string endpoint;
    std::string sessionId;
    std::string clientName;
    std::string stateDir;  // the root; the inventory is in stateDir/clientName
    std::string backend = "inventory";
    int idleExitSec = 0;
    int maxConnections = 256;
    int frameDeadlineSec = 30;
    int readyFd = -1;
    LunSizeSettings sizes;
};

// Where the resolution reads from; tests pass their own.
struct ConfigSources {
    // [ZoScsiSrv] key; false when absent.
    std::function<bool(const std::string& key, std::string& value)> setting;
    std::function<const char*(const char* name)> environment;
    unsigned uid = 0;
    std::string machineClientName;  // this machine's mangled name, "" when unknown
};

// The sources of this process: ZOPlatformInfo, getenv, getuid.
ConfigSources ProcessConfigSources();

// False with a reason that names the setting at fault.
bool ResolveConfig(const CommandLine& line, const zo::LaunchContext& launch, const ConfigSources& sources,
                   ServiceConfig& config, std::string& error);

// DefaultLunSize and MaxLunSize (also read again by "reload").
bool LoadLunSizes(const ConfigSources& sources, LunSizeSettings& sizes, std::string& error);

// The client name must be usable as one folder name.
bool CheckClientName(const std::string& name, std::string& error);

}  // namespace zoscsi
