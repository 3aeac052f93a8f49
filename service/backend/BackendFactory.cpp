#include "backend/BackendFactory.h"

#include "backend/InventoryBackend.h"
#include "backend/tgt/TgtBackend.h"

namespace zoscsi {
namespace {

using BackendMaker = std::unique_ptr<Backend> (*)(const BackendContext&, std::string&);

struct BackendEntry {
    const char* name;
    BackendMaker make;
};

const BackendEntry kBackends[] = {
    {"inventory", &MakeInventoryBackend},
    {"tgt", &MakeTgtBackend},
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

}  // namespace zoscsi
