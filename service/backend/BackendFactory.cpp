#include "backend/BackendFactory.h"

#include "backend/InventoryBackend.h"
#include "backend/tgt/TgtBackend.h"
#include "backend/tgt/TgtConfig.h"

namespace zoscsi {
namespace {

using BackendMaker = std::unique_ptr<Backend> (*)(const BackendContext&, std::string&);
using SettingReader = std::function<bool(const std::string& key, std::string& value)>;
// Asks `setting` for every key of the backend's settings.
using SettingsWalk = void (*)(const SettingReader& setting);

struct BackendEntry {
    const char* name;
    BackendMaker make;
    SettingsWalk settings;  // null: the backend has no settings
};

void WalkTgtSettings(const SettingReader& setting) {
    tgt::TgtConfig ignored;
    std::string unused;
    (void)tgt::LoadTgtConfig(setting, ignored, unused);
}

const BackendEntry kBackends[] = {
    {"inventory", &MakeInventoryBackend, nullptr},
    {"tgt", &MakeTgtBackend, &WalkTgtSettings},
};

}  // namespace

std::unique_ptr<Backend> MakeBackend(const std::string& name, const BackendContext& context,
                                     std::string& error) {
    for (const BackendEntry& entry : kBackends) {
        if (name == entry.name) {
            std::unique_ptr<Backend> backend = entry.make(context, error);
            if (!backend && error.empty()) error = "backend " + name + " could not be made";
            return backend;
        }
    }
    error = "unknown backend \"" + name + "\"; known:";
    for (const BackendEntry& entry : kBackends) error += std::string(" ") + entry.name;
    return nullptr;
}

std::vector<std::string> BackendNames() {
    std::vector<std::string> names;
    for (const BackendEntry& entry : kBackends) names.emplace_back(entry.name);
    return names;
}

std::vector<std::string> BackendSettingKeys() {
    std::vector<std::string> keys;
    const SettingReader record = [&keys](const std::string& key, std::string&) {
        keys.push_back(key);
        return false;  // as if absent: the walk reads every key and keeps its defaults
    };
    for (const BackendEntry& entry : kBackends)
        if (entry.settings) entry.settings(record);
    return keys;
}

}  // namespace zoscsi
