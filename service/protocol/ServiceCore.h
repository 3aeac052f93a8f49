// ServiceCore: what the request handlers work on: the inventory, the
// settings that a reload may change, and who this instance is.
#pragma once

#include "inventory/Inventory.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace zoscsi {

struct LunSizeSettings {
    uint64_t defaultBytes = 64ull << 20;  // CreateLun without -s
    uint64_t maxBytes = 16ull << 40;      // the largest -s accepted
};

struct ServiceIdentity {
    std::string client;
    std::string version;
    long pid = 0;
    int64_t startedAt = 0;  // seconds since the epoch
};

class ServiceCore {
public:
    // Reads the settings anew (the "reload" command); false with a reason when
    // they are unusable.
    using SettingsLoader = std::function<bool(LunSizeSettings& settings, std::string& error)>;

    ServiceCore(Inventory& inventory, ServiceIdentity identity, LunSizeSettings sizes,
                SettingsLoader loader = SettingsLoader());

    Inventory& inventory() { return m_inventory; }
    const ServiceIdentity& identity() const { return m_identity; }
    LunSizeSettings sizes() const;
    // Without a loader the settings stay as they are.
    ServiceStatus ReloadSettings();

private:
    Inventory& m_inventory;
    const ServiceIdentity m_identity;
    SettingsLoader m_loader;
    mutable std::mutex m_lock;
    LunSizeSettings m_sizes;
};

}  // namespace zoscsi
