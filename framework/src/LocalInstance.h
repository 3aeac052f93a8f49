// Instances of on-demand services on this node: one per (service, client),
// found in the runtime folder or started.
#pragma once

#include "LaunchOutcome.h"
#include "ServiceRegistry.h"

#include <string>

namespace zo {

// Under the instance's lock: reuses the instance when its process lives and
// its socket accepts its session, else starts the entry's program and waits
// (bounded) until it is ready. A failure is reported in the outcome's error
// number, never thrown; `reason` gets a line for the log.
LaunchOutcome StartOrReuseInstance(const std::string& service, const std::string& client, const ServiceEntry& entry,
                                   std::string& reason);

}  // namespace zo
