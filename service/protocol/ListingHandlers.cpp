#include "protocol/Handlers.h"

namespace zoscsi {

ServiceReply HandleListLuns(ServiceCore& core, const ServiceRequest& request) {
    ServiceReply reply;
    const LunFilter filter{request.options.Value("-ti"), request.options.Value("-hi")};
    reply.status = core.inventory().ListLuns(filter, reply.lines);
    return reply;
}

ServiceReply HandleListTargets(ServiceCore& core, const ServiceRequest&) {
    ServiceReply reply;
    reply.status = core.inventory().ListTargets(reply.lines);
    return reply;
}

}  // namespace zoscsi
