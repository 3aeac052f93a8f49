#include "ServiceRegistry.h"

#include "Config.h"
#include "Endpoint.h"
#include "WholeNumber.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace zo {

namespace {

constexpr const char* kSection = "OnDemandServices";
constexpr long long kDefaultLaunchMillis = 10000;
constexpr double kMinLaunchSec = 0.01;
constexpr double kMaxLaunchSec = 600;

// The environment's value when set, else the configuration's.
bool Setting(const boost::property_tree::ptree& config, const std::string& envName, const std::string& key,
             std::string& value) {
    if (const char* env = std::getenv(envName.c_str())) {
        value = env;
        return true;
    }
    return ConfigValue(config, kSection, key, value);
}

std::string Trim(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return "";
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

}  // namespace

std::vector<std::string> SplitArguments(const std::string& text) {
    std::vector<std::string> words;
    size_t at = 0;
    while ((at = text.find_first_not_of(" \t", at)) != std::string::npos) {
        const size_t end = text.find_first_of(" \t", at);
        words.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end;
    }
    return words;
}

bool LookupService(const std::string& service, ServiceEntry& entry, std::string& error) {
    entry = ServiceEntry();
    std::string malformed;
    const boost::property_tree::ptree config = ReadConfig(&malformed);
    const std::string env = "ZO_SERVICE_" + service;
    std::string value;
    if (!Setting(config, env, service, value)) {
        error = "no on-demand service \"" + service + "\" in [" + std::string(kSection) + "] of " + ConfigPath() +
                " or in " + env;
        if (!malformed.empty()) error += " (the file is malformed and reads as empty: " + malformed + ")";
        return false;
    }
    value = Trim(value);
    if (value.empty()) {
        error = "the entry of on-demand service \"" + service + "\" is empty";
        return false;
    }
    if (LooksLikeEndpoint(value)) {
        entry.running = true;
        entry.endpoint = value;
        Setting(config, env + "_SESSION", service + ".session", entry.sessionId);
        entry.sessionId = Trim(entry.sessionId);
        return true;
    }
    entry.argv = SplitArguments(value);
    std::string idle;
    if (Setting(config, env + "_IDLE_EXIT", service + ".idle_exit", idle)) {
        idle = Trim(idle);
        long seconds = 0;
        if (!ParseWholeNumber(idle, 0, 86400L * 365, seconds)) {
            error = "idle exit of on-demand service \"" + service + "\" is not a number of seconds: " + idle;
            return false;
        }
        entry.idleExitSec = static_cast<int>(seconds);
    }
    return true;
}

TlsClientSettings LookupTlsClient(const std::string& service) {
    const boost::property_tree::ptree config = ReadConfig();
    const std::string env = "ZO_SERVICE_" + service;
    TlsClientSettings tls;
    const struct {
        const char* env;
        const char* key;
        std::string TlsClientSettings::*member;
    } keys[] = {{"_TLS_CA", ".tls_ca", &TlsClientSettings::caFile},
                {"_TLS_CERT", ".tls_cert", &TlsClientSettings::certFile},
                {"_TLS_KEY", ".tls_key", &TlsClientSettings::keyFile}};
    for (const auto& k : keys) {
        std::string value;
        if (Setting(config, env + k.env, service + k.key, value)) tls.*k.member = Trim(value);
    }
    return tls;
}

long long LaunchTimeoutMillis() {
    const char* text = std::getenv("ZO_LAUNCH_TIMEOUT");
    if (!text || !*text) return kDefaultLaunchMillis;
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (*end != '\0' || !std::isfinite(seconds)) return kDefaultLaunchMillis;
    return std::llround(std::fmin(std::fmax(seconds, kMinLaunchSec), kMaxLaunchSec) * 1000);
}

}  // namespace zo
