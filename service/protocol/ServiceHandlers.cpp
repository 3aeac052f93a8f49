#include "protocol/Handlers.h"

#include "inventory/InventoryFile.h"

#include <ctime>

namespace zoscsi {

ServiceReply HandleStartService(ServiceCore& core, const ServiceRequest& request) {
    if (request.fabric < 0 || request.fabric > UINT32_MAX)
        return {Invalid("fabric " + std::to_string(request.fabric) + " is not served; only 1 (iSCSI)")};
    return {core.inventory().Start(static_cast<uint32_t>(request.fabric))};
}

ServiceReply HandleReload(ServiceCore& core, const ServiceRequest&) {
    ServiceStatus status = core.ReloadSettings();
    if (!status.ok()) return {status};
    return {core.inventory().Resync()};
}

ServiceReply HandleStatus(ServiceCore& core, const ServiceRequest&) {
    ServiceReply reply;
    InventoryCounts counts;
    reply.status = core.inventory().Count(counts);
    if (!reply.status.ok()) return reply;
    const ServiceIdentity& identity = core.identity();
    const LunSizeSettings sizes = core.sizes();
    reply.lines = {
        "client=" + identity.client,
        "version=" + identity.version,
        "pid=" + std::to_string(identity.pid),
        "uptime=" + std::to_string(static_cast<int64_t>(std::time(nullptr)) - identity.startedAt),
        "backend=" + std::string(core.inventory().backendName()),
        std::string("started=") + (core.inventory().started() ? "yes" : "no"),
        "backend-state=" + core.inventory().backendState(),
        "schema=" + std::to_string(kInventorySchemaVersion),
        "targets=" + std::to_string(counts.targets),
        "luns=" + std::to_string(counts.luns),
        "open-luns=" + std::to_string(counts.openLuns),
        "mappings=" + std::to_string(counts.mappings),
        "default-lun-size=" + std::to_string(sizes.defaultBytes),
        "max-lun-size=" + std::to_string(sizes.maxBytes),
    };
    return reply;
}

}  // namespace zoscsi
