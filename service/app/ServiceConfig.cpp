#include "app/ServiceConfig.h"

#include "ZOPlatformInfo.h"
#include "app/SecretFile.h"
#include "backend/BackendFactory.h"
#include "common/Names.h"
#include "protocol/OptionText.h"
#include "zo/ConfigFile.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <pwd.h>
#include <unistd.h>

namespace zoscsi {
namespace {

constexpr const char* kSection = "ZoScsiSrv";
constexpr int kDefaultIdleExitSec = 600;
constexpr uint64_t kLargestLun = 1ull << 62;

// The service's own keys of [ZoScsiSrv] (docs/SERVICE.md); the backends'
// keys come from BackendSettingKeys. A key the service reads must be here,
// or a file that sets it is refused.
const char* const kServiceKeys[] = {
    "StateDir", "Backend", "IdleExitSeconds", "MaxConnections", "FrameDeadlineSeconds",
    "DefaultLunSize", "MaxLunSize", "ListenTcp", "RequireMountedState",
    "MaxPendingConnections", "MaxPendingPerAddress", "SessionDeadlineSeconds",
    "TlsCertFile", "TlsKeyFile", "TlsCaFile", "AllowPlainTcp",
};

bool Setting(const ConfigSources& sources, const char* key, std::string& value) {
    return sources.setting && sources.setting(key, value);
}

// "[ZoScsiSrv] KEY", and the file it is in when there is one.
std::string SettingName(const ConfigSources& sources, const char* key) {
    return std::string("[") + kSection + "] " + key + (sources.file.empty() ? "" : " of " + sources.file);
}

std::string Environment(const ConfigSources& sources, const char* name) {
    const char* value = sources.environment ? sources.environment(name) : nullptr;
    return value ? std::string(value) : std::string();
}

// A whole number in low..high; `what` names its source in the error.
bool Integer(const char* what, const std::string& text, int low, int high, int& value, std::string& error) {
    int64_t parsed = 0;
    if (!ParseDecimal(text, parsed) || parsed < low || parsed > high) {
        error = std::string(what) + " \"" + text + "\" is not a whole number in " + std::to_string(low) + ".." +
                std::to_string(high);
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

bool IntegerSetting(const ConfigSources& sources, const char* key, int low, int high, int& value,
                    std::string& error) {
    std::string text;
    if (!Setting(sources, key, text)) return true;
    return Integer(SettingName(sources, key).c_str(), text, low, high, value, error);
}

bool FlagSetting(const ConfigSources& sources, const char* key, bool& value, std::string& error) {
    std::string text;
    if (!Setting(sources, key, text) || ParseFlag(text, value)) return true;
    error = SettingName(sources, key) + " \"" + text + "\" is neither yes nor no";
    return false;
}

std::string DefaultStateDir(const ConfigSources& sources) {
    if (sources.uid == 0) return "/var/lib/zoscsisrv";
    const std::string xdg = Environment(sources, "XDG_STATE_HOME");
    if (!xdg.empty() && xdg[0] == '/') return xdg + "/zoscsisrv";
    std::string home = Environment(sources, "HOME");
    if (home.empty()) {
        const passwd* entry = getpwuid(sources.uid);
        if (entry && entry->pw_dir) home = entry->pw_dir;
    }
    return (home.empty() ? std::string("/tmp") : home) + "/.local/state/zoscsisrv";
}

// The state root that --state-dir, ZO_STATE_DIR or [ZoScsiSrv] StateDir
// names, the first that does, and in `from` which one; "" when none does.
std::string NamedStateRoot(const CommandLine& line, const ConfigSources& sources, std::string& from) {
    std::string text;
    if (!line.stateDir.empty()) {
        from = "--state-dir";
        return line.stateDir;
    }
    if (!(text = Environment(sources, "ZO_STATE_DIR")).empty()) {
        from = "ZO_STATE_DIR";
        return text;
    }
    if (Setting(sources, "StateDir", text) && !text.empty()) {
        from = SettingName(sources, "StateDir");
        return text;
    }
    return std::string();
}

bool IsNetworkEndpoint(const std::string& endpoint) {
    return endpoint.rfind("tcp:", 0) == 0 || endpoint.rfind("tls:", 0) == 0;
}

bool ResolveEndpoint(const CommandLine& line, const zo::LaunchContext& launch, const ConfigSources& sources,
                     ServiceConfig& config, std::string& error) {
    if (launch.launched) {
        if (!line.listen.empty()) {
            error = "--listen conflicts with the endpoint the launcher gave (" + launch.endpoint + ")";
            return false;
        }
        config.endpoint = launch.endpoint;
        return true;
    }
    std::string tcp;
    if (!line.listen.empty()) {
        config.endpoint = line.listen;
    } else if (Setting(sources, "ListenTcp", tcp) && !tcp.empty()) {
        config.endpoint = IsNetworkEndpoint(tcp) ? tcp : "tcp:" + tcp;
    } else {
        error = "nowhere to listen: give --listen unix:PATH|tls:HOST:PORT|tcp:HOST:PORT or set [ZoScsiSrv] ListenTcp";
        return false;
    }
    if (config.endpoint.rfind("unix:", 0) != 0 && !IsNetworkEndpoint(config.endpoint)) {
        error = "endpoint \"" + config.endpoint + "\" is not unix:PATH, tls:HOST:PORT or tcp:HOST:PORT";
        return false;
    }
    return true;
}

// An absolute file path from [ZoScsiSrv] `key`; false when it is not one.
bool PathSetting(const ConfigSources& sources, const char* key, std::string& path, std::string& error) {
    if (!Setting(sources, key, path) || path.empty() || path[0] == '/') return true;
    error = SettingName(sources, key) + " \"" + path + "\" is not an absolute path";
    return false;
}

// The certificate, key and client CA of a tls: endpoint; whether plain TCP
// may reach beyond loopback.
bool ResolveTransport(const ConfigSources& sources, ServiceConfig& config, std::string& error) {
    if (!FlagSetting(sources, "AllowPlainTcp", config.allowPlainTcp, error)) return false;
    zo::TlsServerSettings& tls = config.tls;
    if (!PathSetting(sources, "TlsCertFile", tls.certFile, error) ||
        !PathSetting(sources, "TlsKeyFile", tls.keyFile, error) || !PathSetting(sources, "TlsCaFile", tls.caFile, error))
        return false;
    if (config.endpoint.rfind("tls:", 0) != 0) return true;
    if (tls.certFile.empty() || tls.keyFile.empty()) {
        error = "listening on " + config.endpoint + " needs [ZoScsiSrv] TlsCertFile and TlsKeyFile";
        return false;
    }
    return CheckKeyFile(tls.keyFile, sources.uid, error);
}

// The session: the launcher's; by hand from --session-file or ZO_ODS_SESSION
// (only one of them). Never from the command line, which every local user
// can read in /proc.
bool ResolveSession(const CommandLine& line, const zo::LaunchContext& launch, const ConfigSources& sources,
                    ServiceConfig& config, std::string& error) {
    if (launch.launched) {
        if (!line.sessionFile.empty()) {
            error = "--session-file conflicts with the session the launcher gave";
            return false;
        }
        config.sessionId = launch.sessionId;
        return true;
    }
    if (!line.sessionFile.empty()) {
        if (!launch.sessionId.empty()) {
            error = "the session is given twice, by --session-file and by ZO_ODS_SESSION: give one";
            return false;
        }
        return ReadSessionFile(line.sessionFile, sources.uid, config.sessionId, error);
    }
    config.sessionId = launch.sessionId;
    return true;
}

bool ResolveIdleExit(const CommandLine& line, const zo::LaunchContext& launch, const ConfigSources& sources,
                     ServiceConfig& config, std::string& error) {
    constexpr int kDay = 86400;
    if (!line.idleExit.empty()) return Integer("--idle-exit", line.idleExit, 0, 365 * kDay, config.idleExitSec, error);
    if (!launch.launched) {
        config.idleExitSec = 0;  // by hand: until stopped
        return true;
    }
    // The launcher always passes its registry's idle time, 0 when it has none:
    // a positive one wins, otherwise the service's own setting holds.
    const std::string fromLauncher = Environment(sources, "ZO_ODS_IDLE_EXIT");
    int launcherIdle = 0;
    if (!fromLauncher.empty() && !Integer("ZO_ODS_IDLE_EXIT", fromLauncher, 0, 365 * kDay, launcherIdle, error))
        return false;
    if (launcherIdle > 0) {
        config.idleExitSec = launcherIdle;
        return true;
    }
    config.idleExitSec = kDefaultIdleExitSec;
    return IntegerSetting(sources, "IdleExitSeconds", 0, 365 * kDay, config.idleExitSec, error);
}

}  // namespace

bool ProcessConfigSources(bool fileRequired, ConfigSources& sources, std::string& error) {
    sources = ConfigSources();
    sources.file = zo::ConfigFilePath();
    sources.fileRequired = fileRequired;
    std::vector<std::pair<std::string, std::string>> entries;
    if (!zo::ReadConfigSectionStrictly(sources.file, kSection, fileRequired, entries, error)) return false;
    auto settings = std::make_shared<std::map<std::string, std::string>>();
    for (const auto& entry : entries) {
        sources.keys.push_back(entry.first);
        settings->emplace(entry.first, entry.second);
    }
    sources.setting = [settings](const std::string& key, std::string& value) {
        const auto found = settings->find(key);
        if (found == settings->end()) return false;
        value = found->second;
        return true;
    };
    sources.environment = [](const char* name) -> const char* { return std::getenv(name); };
    sources.uid = static_cast<unsigned>(getuid());
    ZOPlatformInfo platform;
    std::string mangled;
    const char* machine = platform.getPhysicalMachine();
    if (machine && platform.getClientHostNameMangled(machine, mangled)) sources.machineClientName = mangled;
    return true;
}

bool CheckSettingKeys(const ConfigSources& sources, std::string& error) {
    std::vector<std::string> known(std::begin(kServiceKeys), std::end(kServiceKeys));
    const std::vector<std::string> backendKeys = BackendSettingKeys();
    known.insert(known.end(), backendKeys.begin(), backendKeys.end());
    const std::string where = sources.file.empty() ? std::string() : "configuration file " + sources.file + ": ";
    for (const std::string& key : sources.keys) {
        if (std::find(known.begin(), known.end(), key) == known.end()) {
            error = where + "unknown key " + Quote(key) + " in [" + kSection + "]; known:";
            for (const std::string& name : known) error += " " + name;
            return false;
        }
        std::string value;
        if (Setting(sources, key.c_str(), value) && value.empty()) {
            error = where + "[" + kSection + "] " + key + " has no value; give one or remove the line";
            return false;
        }
    }
    return true;
}

bool CheckClientName(const std::string& name, std::string& error) {
    bool ok = !name.empty() && name.size() <= 128 && name[0] != '.' && name[0] != '-';
    for (unsigned char c : name)
        ok = ok && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '-' || c == '_');
    if (!ok)
        error = "client name " + Quote(name) +
                " cannot name a state folder (1..128 of A-Z a-z 0-9 . - _, not starting with . or -)";
    return ok;
}

bool LoadLunSizes(const ConfigSources& sources, LunSizeSettings& sizes, std::string& error) {
    LunSizeSettings loaded;
    std::string text;
    if (Setting(sources, "MaxLunSize", text)) {
        const ServiceStatus status = ParseSize(text, kLargestLun, loaded.maxBytes);
        if (!status.ok()) {
            error = SettingName(sources, "MaxLunSize") + ": " + status.text;
            return false;
        }
    }
    if (Setting(sources, "DefaultLunSize", text)) {
        const ServiceStatus status = ParseSize(text, loaded.maxBytes, loaded.defaultBytes);
        if (!status.ok()) {
            error = SettingName(sources, "DefaultLunSize") + ": " + status.text;
            return false;
        }
    } else if (loaded.defaultBytes > loaded.maxBytes) {
        loaded.defaultBytes = loaded.maxBytes;
    }
    sizes = loaded;
    return true;
}

bool ResolveStateRoot(const CommandLine& line, const ConfigSources& sources, std::string& root, std::string& error) {
    std::string from;
    root = NamedStateRoot(line, sources, from);
    if (root.empty()) {
        root = DefaultStateDir(sources);
        from = "the default state folder";
    }
    // Resolved against whatever folder the service happens to start in, a
    // relative path would name another inventory for each caller.
    if (root[0] != '/') {
        error = "state folder " + Quote(root) + " (" + from + ") is not an absolute path; give the whole path";
        return false;
    }
    // After a link, ".." leads elsewhere than the path reads.
    if (("/" + root + "/").find("/../") != std::string::npos) {
        error = "state folder " + Quote(root) + " (" + from + ") holds \"..\"; give the path without it";
        return false;
    }
    return true;
}

zo::InstanceIdentity IdentityOf(const CommandLine& line, const ConfigSources& sources, const ServiceConfig& config,
                                const std::vector<std::string>& arguments) {
    zo::InstanceIdentity identity;
    identity.serves = "state folder " + config.stateDir + "/" + config.clientName + ", backend " + config.backend;
    identity.arguments = arguments;
    const auto environment = [&](const char* name) {
        identity.AddEnvironment(name, sources.environment ? sources.environment(name) : nullptr);
    };
    const auto setting = [&](const char* key) {
        std::string value;
        const bool present = Setting(sources, key, value);
        identity.AddSetting(kSection, key, present, value);
    };
    environment("ZO_STATE_DIR");
    if (line.config.empty()) {
        setting("StateDir");
        setting("Backend");
    }
    std::string from;
    if (NamedStateRoot(line, sources, from).empty()) {
        environment("XDG_STATE_HOME");
        environment("HOME");
    }
    return identity;
}

bool ResolveConfig(const CommandLine& line, const zo::LaunchContext& launch, const ConfigSources& sources,
                   ServiceConfig& config, std::string& error) {
    config = ServiceConfig();
    if (!CheckSettingKeys(sources, error)) return false;
    config.launched = launch.launched;
    if (!launch.launched && !line.foreground) {
        error = "not started by the on-demand launcher; run by hand with --foreground";
        return false;
    }
    if (!ResolveEndpoint(line, launch, sources, config, error)) return false;
    if (!ResolveSession(line, launch, sources, config, error)) return false;
    // Without a session only the socket's own checks guard the service; TCP has none.
    if (config.sessionId.empty() && IsNetworkEndpoint(config.endpoint)) {
        error = "listening on " + config.endpoint +
                " without a session would let anyone who reaches the port in; give --session-file PATH or set "
                "ZO_ODS_SESSION";
        return false;
    }

    config.clientName = launch.launched ? launch.client : line.client;
    if (config.clientName.empty()) config.clientName = sources.machineClientName;
    if (config.clientName.empty()) config.clientName = "local";
    if (!CheckClientName(config.clientName, error)) return false;

    if (!ResolveStateRoot(line, sources, config.stateDir, error)) return false;

    std::string text;
    if (!line.backend.empty()) config.backend = line.backend;
    else if (Setting(sources, "Backend", text) && !text.empty()) config.backend = text;

    return ResolveIdleExit(line, launch, sources, config, error) &&
           FlagSetting(sources, "RequireMountedState", config.requireMountedState, error) &&
           IntegerSetting(sources, "MaxConnections", 1, 65536, config.maxConnections, error) &&
           IntegerSetting(sources, "MaxPendingConnections", 1, 65536, config.maxPending, error) &&
           IntegerSetting(sources, "MaxPendingPerAddress", 1, 65536, config.maxPendingPerAddress, error) &&
           IntegerSetting(sources, "SessionDeadlineSeconds", 1, 3600, config.sessionDeadlineSec, error) &&
           IntegerSetting(sources, "FrameDeadlineSeconds", 1, 3600, config.frameDeadlineSec, error) &&
           ResolveTransport(sources, config, error) && LoadLunSizes(sources, config.sizes, error);
}

}  // namespace zoscsi
