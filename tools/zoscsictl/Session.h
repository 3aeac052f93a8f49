// Reaching the service: the client name and the launch of ZoScsiSrv.
#pragma once

#include "CYbError.h"
#include "ZoScsiSrvClient.h"

#include <string>

namespace zoctl {

// `requested` when not empty; else this node's mangled host name.
CYbError ResolveClientName(const std::string& requested, std::string& clientName);

// Has the launcher launch (or reuse) ZoScsiSrv for `clientName` and connects.
CYbError Connect(ZoScsiSrvClient& client, const std::string& clientName);

}  // namespace zoctl
