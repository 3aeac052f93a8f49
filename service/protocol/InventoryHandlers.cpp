#include "protocol/Handlers.h"

#include "common/Names.h"

namespace zoscsi {
namespace {

ServiceReply LunReply(ServiceStatus status, const LunRecord& lun) {
    ServiceReply reply{std::move(status)};
    if (reply.status.ok()) {
        reply.lunName = lun.name;
        reply.lunId = lun.id;
    }
    return reply;
}

ServiceReply OpenLun(ServiceCore& core, const ServiceRequest& request) {
    if (request.options.Has("-s")) return {Invalid("LUN options: -s cannot be given with -li (a LUN keeps its size)")};
    int64_t id = 0;
    const std::string& text = request.options.Value("-li");
    if (!ParseDecimal(text, id)) return {Invalid("LUN options: LUN id " + Quote(text) + " is not a number")};
    LunRecord lun;
    ServiceStatus status = core.inventory().OpenLun(request.target, id, lun);
    return LunReply(std::move(status), lun);
}

}  // namespace

ServiceReply HandleCreateTarget(ServiceCore& core, const ServiceRequest& request) {
    return {core.inventory().CreateTarget(request.target, request.params)};
}

ServiceReply HandleDeleteTarget(ServiceCore& core, const ServiceRequest& request) {
    return {core.inventory().DeleteTarget(request.target)};
}

ServiceReply HandleCreateLun(ServiceCore& core, const ServiceRequest& request) {
    if (request.options.Has("-li")) return OpenLun(core, request);
    if (request.lunSetting < 0 || request.lunSetting > UINT32_MAX)
        return {Invalid("LUN setting " + std::to_string(request.lunSetting) + " is not an unsigned 32-bit value")};
    const LunSizeSettings sizes = core.sizes();
    uint64_t size = sizes.defaultBytes;
    if (request.options.Has("-s")) {
        ServiceStatus status = ParseSize(request.options.Value("-s"), sizes.maxBytes, size);
        if (!status.ok()) return {status};
    }
    LunRecord lun;
    ServiceStatus status = core.inventory().CreateLun(request.target, size, static_cast<uint32_t>(request.lunSetting),
                                                      request.optionText, lun);
    return LunReply(std::move(status), lun);
}

ServiceReply HandleDeleteLun(ServiceCore& core, const ServiceRequest& request) {
    if (request.opCtxFlags & ZoScsiServer::Wire::kOpCtxCloseLun)
        return {core.inventory().CloseLun(request.target, request.lunId)};
    return {core.inventory().DeleteLun(request.target, request.lunId)};
}

ServiceReply HandleMapHost(ServiceCore& core, const ServiceRequest& request) {
    return {core.inventory().MapHost(request.target, request.lunId, request.host)};
}

ServiceReply HandleUnmapHost(ServiceCore& core, const ServiceRequest& request) {
    return {core.inventory().UnmapHost(request.target, request.lunId, request.host)};
}

}  // namespace zoscsi
