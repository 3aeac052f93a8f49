// ServiceConfig: everything an instance needs to run, resolved from the
// command line, the launcher's environment and the [ZoScsiSrv] section of
// the configuration, in that order of precedence (docs/SERVICE.md).
#pragma once

#include "app/CommandLine.h"
#include "protocol/ServiceCore.h"
#include "zo/InstanceIdentity.h"
#include "zo/LaunchContext.h"
#include "zo/TlsSettings.h"

#include <functional>
#include <string>
#include <vector>

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
    int maxPending = 64;             // connections that have not presented the session
    int maxPendingPerAddress = 16;
    int sessionDeadlineSec = 5;
    int frameDeadlineSec = 30;
    zo::TlsServerSettings tls;       // for a tls: endpoint
    bool allowPlainTcp = false;
    bool requireMountedState = false;  // the state root must carry its mark (StateFolder.h)
    LunSizeSettings sizes;
};

// Where the resolution reads from; tests pass their own.
struct ConfigSources {
    // [ZoScsiSrv] key; false when absent.
    std::function<bool(const std::string& key, std::string& value)> setting;
    std::function<const char*(const char* name)> environment;
    unsigned uid = 0;
    std::string machineClientName;  // this machine's mangled name, "" when unknown
    std::string file;               // the configuration file the settings come from, named in refusals
    bool fileRequired = false;      // the file was named on the command line: it must exist
    std::vector<std::string> keys;  // every key of [ZoScsiSrv] in the file, for CheckSettingKeys
};

// The sources of this process: the configuration file (read once, strictly),
// getenv, getuid, this machine's name. False with the file, the line and
// what is wrong when the file is malformed or cannot be read; a missing file
// has no settings unless `fileRequired` (a file named by --config).
bool ProcessConfigSources(bool fileRequired, ConfigSources& sources, std::string& error);

// Every key of [ZoScsiSrv] must be one the service or one of its backends
// reads, and have a value: a misspelt or emptied key is refused rather than
// left to its default. False with a reason that names the key.
bool CheckSettingKeys(const ConfigSources& sources, std::string& error);

// False with a reason that names the setting at fault.
bool ResolveConfig(const CommandLine& line, const zo::LaunchContext& launch, const ConfigSources& sources,
                   ServiceConfig& config, std::string& error);

// The state root from --state-dir, ZO_STATE_DIR, [ZoScsiSrv] StateDir or the
// user's default; false (naming where it came from) when it is not absolute.
bool ResolveStateRoot(const CommandLine& line, const ConfigSources& sources, std::string& root, std::string& error);

// DefaultLunSize and MaxLunSize (also read again by "reload").
bool LoadLunSizes(const ConfigSources& sources, LunSizeSettings& sizes, std::string& error);

// The client name must be usable as one folder name.
bool CheckClientName(const std::string& name, std::string& error);

// What a resolved instance serves (its state folder and backend) and the
// settings that decided them, as read: `arguments` (the whole command line),
// ZO_STATE_DIR, [ZoScsiSrv] StateDir and Backend (unless --config named
// another file than the callers read), and HOME and XDG_STATE_HOME when the
// default state root was taken. The launcher hands the instance only to
// callers whose settings read the same (zo/InstanceIdentity.h).
zo::InstanceIdentity IdentityOf(const CommandLine& line, const ConfigSources& sources, const ServiceConfig& config,
                                const std::vector<std::string>& arguments);

}  // namespace zoscsi
