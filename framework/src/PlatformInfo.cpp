#include "ZOPlatformInfo.h"

#include "Config.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace {
constexpr size_t kMaxHostNameBytes = 63;  // one DNS label
}  // namespace

std::string ZOPlatformInfo::ConfigPath() { return zo::ConfigPath(); }

int ZOPlatformInfo::getString(const char* section, const char* key, std::string* value) {
    if (!section || !key) return 0;
    std::string found;
    if (!zo::ConfigValue(section, key, found)) return 0;
    if (value) *value = std::move(found);
    return 1;
}

const char* ZOPlatformInfo::getPhysicalMachine() {
    std::string name;
    const char* chosen = std::getenv("ZO_HOSTNAME");
    struct utsname uts {};
    if (chosen) name = chosen;
    else if (::uname(&uts) == 0) name = uts.nodename;
    if (!chosen && name.empty()) {
        char buffer[HOST_NAME_MAX + 1] = {};
        if (::gethostname(buffer, sizeof buffer - 1) == 0) name = buffer;
    }
    size_t dot = name.find('.');
    if (dot != std::string::npos) name.resize(dot);
    m_physicalMachine = std::move(name);
    return m_physicalMachine.c_str();
}

int ZOPlatformInfo::getClientHostNameMangled(const char* shortName, std::string& mangled) {
    if (!shortName) return 0;
    std::string name(shortName);
    if (name.empty() || name.size() > kMaxHostNameBytes) return 0;
    for (char& c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u >= 'A' && u <= 'Z') u = static_cast<unsigned char>(u - 'A' + 'a');
        bool keep = (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-';
        c = keep ? static_cast<char>(u) : '-';
    }
    mangled = std::move(name);
    return 1;
}
