#include "ZoScsiSrvStart.h"

#include "ClientSupport.h"
#include "ZOPlatformInfo.h"
#include "ZoScsiSrvClient.h"

#include <memory>
#include <new>
#include <string>

namespace {
constexpr const char* kFunction = "void ZoScsiSrvStart()";
}

// Every outcome goes only to the log; the client lives for this call alone.
void ZoScsiSrvStart(void) {
    const ZoScsiSrvClientRequest::StartServiceRequest request(ZoScsiSrvClientInternal::LibraryHeader());
    ZOPlatformInfo platform;
    std::string inUse;
    if (platform.getString("Brovant", "ZoScsiSrvInUse", &inUse) == 0) {
        ZO_CLIENT_LOG(1, kFunction, "ZoScsiSrv not in use");
        return;
    }

    // A machine without a name gives an empty one, which the mangling refuses.
    const char* physicalMachine = platform.getPhysicalMachine();
    const std::string shortName = physicalMachine ? physicalMachine : "";
    std::string clientName;
    if (platform.getClientHostNameMangled(shortName.c_str(), clientName) == 0) {
        ZO_CLIENT_LOG(-1, kFunction, "getNetworkHostnameMangled error for short client name [%s]", shortName.c_str());
        return;
    }

    const std::shared_ptr<ZoScsiSrvClient> client(new (std::nothrow) ZoScsiSrvClient());
    if (!client) {
        ZO_CLIENT_LOG(-1, kFunction, "memory alloc error");
        return;
    }
    if (client->Initialize(clientName, "zod", 0).IsError()) {
        ZO_CLIENT_LOG(-1, kFunction, "ZoScsiSrvClient Initialize error");
        return;
    }
    if (client->StartScsiService(request).IsError())
        ZO_CLIENT_LOG(-1, kFunction, "ZoScsiSrvClient StartScsiService error");
    else
        ZO_CLIENT_LOG(0, kFunction, "StartScsiService success");
}
