// Handlers: one function per request or command word, each a few lines over
// the inventory. The dispatcher's route table (Dispatcher.cpp) names them;
// they get a request already decoded and its options already parsed.
#pragma once

#include "protocol/ServiceCore.h"
#include "protocol/ServiceMessages.h"

namespace zoscsi {

using Handler = ServiceReply (*)(ServiceCore& core, const ServiceRequest& request);

// ServiceHandlers.cpp
ServiceReply HandleStartService(ServiceCore& core, const ServiceRequest& request);
ServiceReply HandleReload(ServiceCore& core, const ServiceRequest& request);
ServiceReply HandleStatus(ServiceCore& core, const ServiceRequest& request);

// InventoryHandlers.cpp
ServiceReply HandleCreateTarget(ServiceCore& core, const ServiceRequest& request);
ServiceReply HandleDeleteTarget(ServiceCore& core, const ServiceRequest& request);
ServiceReply HandleCreateLun(ServiceCore& core, const ServiceRequest& request);  // also opens: "-li ID"
ServiceReply HandleDeleteLun(ServiceCore& core, const ServiceRequest& request);  // also closes: opCtxFlags bit 0
ServiceReply HandleMapHost(ServiceCore& core, const ServiceRequest& request);
ServiceReply HandleUnmapHost(ServiceCore& core, const ServiceRequest& request);

// ListingHandlers.cpp
ServiceReply HandleListLuns(ServiceCore& core, const ServiceRequest& request);          // ll, llt, llh
ServiceReply HandleListLunDetails(ServiceCore& core, const ServiceRequest& request);    // lld
ServiceReply HandleListTargets(ServiceCore& core, const ServiceRequest& request);       // lt
ServiceReply HandleListTargetDetails(ServiceCore& core, const ServiceRequest& request);  // ltd

}  // namespace zoscsi
