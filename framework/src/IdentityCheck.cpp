#include "IdentityCheck.h"

#include "Config.h"
#include "InstanceDir.h"
#include "zo/InstanceIdentity.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace zo {

namespace {

constexpr size_t kMaxIdentityBytes = 64 * 1024;

std::string Shown(bool present, const std::string& value) { return present ? "\"" + value + "\"" : "unset"; }

std::string Joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

}  // namespace

bool SameIdentity(const std::string& identityPath, const std::vector<std::string>& argv, std::string& serves,
                  std::string& difference) {
    serves.clear();
    struct stat st {};
    if (::lstat(identityPath.c_str(), &st) != 0 && errno == ENOENT) return true;
    std::string text;
    InstanceIdentity identity;
    if (!ReadPrivateFile(identityPath, kMaxIdentityBytes, text) || !DecodeIdentity(text, identity)) {
        serves = "an unknown state";
        difference = "its identity file " + identityPath + " cannot be read";
        return false;
    }
    serves = identity.serves.empty() ? "an unnamed state" : identity.serves;
    if (!identity.arguments.empty() && identity.arguments != argv) {
        difference = "it was started as \"" + Joined(identity.arguments) + "\" and the registry now says \"" +
                     Joined(argv) + "\"";
        return false;
    }
    const boost::property_tree::ptree config = ReadConfig();
    for (const InstanceIdentity::Input& input : identity.inputs) {
        std::string value;
        bool present = false;
        std::string what;
        if (input.setting) {
            present = ConfigValue(config, input.section, input.name, value);
            what = "[" + input.section + "] " + input.name + " of " + ConfigPath();
        } else {
            const char* env = std::getenv(input.name.c_str());
            present = env != nullptr;
            if (env) value = env;
            what = input.name;
        }
        if (present != input.present || value != input.value) {
            difference = "this caller's " + what + " is " + Shown(present, value) + " where the instance's was " +
                         Shown(input.present, input.value);
            return false;
        }
    }
    return true;
}

}  // namespace zo
