#include "Session.h"

#include "FXErrorUtil.h"
#include "ZOPlatformInfo.h"

#include <cerrno>

namespace zoctl {

namespace {
constexpr const char* kProcessName = "zoscsictl";
constexpr ULONG kInitParam = 0;
}  // namespace

CYbError ResolveClientName(const std::string& requested, std::string& clientName) {
    if (!requested.empty()) {
        clientName = requested;
        return CYbError::Success();
    }
    ZOPlatformInfo platform;
    const char* shortName = platform.getPhysicalMachine();
    if (!platform.getClientHostNameMangled(shortName, clientName)) {
        return FXErrorUtil::ErrorErrNo(FXCodeLocation("zoscsictl", "ResolveClientName", __LINE__), EINVAL,
                                       "Cannot make a client name of host name [%s]; pass --client NAME",
                                       shortName ? shortName : "");
    }
    return CYbError::Success();
}

CYbError Connect(ZoScsiSrvClient& client, const std::string& clientName) {
    return client.Initialize(clientName, kProcessName, kInitParam);
}

}  // namespace zoctl
