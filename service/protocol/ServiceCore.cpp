#include "protocol/ServiceCore.h"

namespace zoscsi {

ServiceCore::ServiceCore(Inventory& inventory, ServiceIdentity identity, LunSizeSettings sizes, SettingsLoader loader)
    : m_inventory(inventory), m_identity(std::move(identity)), m_loader(std::move(loader)), m_sizes(sizes) {}

LunSizeSettings ServiceCore::sizes() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_sizes;
}

ServiceStatus ServiceCore::ReloadSettings() {
    if (!m_loader) return ServiceStatus::Ok();
    LunSizeSettings fresh;
    std::string error;
    if (!m_loader(fresh, error)) return Invalid("configuration not reloaded: " + error);
    std::lock_guard<std::mutex> lock(m_lock);
    m_sizes = fresh;
    return ServiceStatus::Ok();
}

}  // namespace zoscsi
