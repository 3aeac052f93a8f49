// A host program built against the installed library: it constructs a
// client, calls into both libraries, finds ZoScsiSrvStart by name and
// reports which library file it came from.
//
//   consumer             the offline checks
//   consumer session C   also runs a short session as client C against the
//                        service the configuration (ZO_CONFIG) names
#include <CYbError.h>
#include <ZoScsiSrvClient.h>
#include <ZoScsiSrvStart.h>
#include <zo/Limits.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int RunSession(const char* clientName) {
    ZoScsiSrvClient client;
    CYbError err = client.Initialize(clientName, "consumer", 0);
    if (err.IsError()) {
        std::printf("initialize: %s\n", err.ToString().c_str());
        return 1;
    }
    std::printf("service up: %s\n", client.IsZoScsiServiceUp(true) ? "yes" : "no");
    ZoScsiSrvClientRequest::CreateTargetRequest target;
    target.targetName = "Consumer01";
    err = client.AddTarget(target);
    if (err.IsError()) {
        std::printf("add target: %s\n", err.ToString().c_str());
        return 1;
    }
    std::vector<std::string> targets;
    err = client.ListTargets("lt", targets);
    if (err.IsError()) {
        std::printf("list targets: %s\n", err.ToString().c_str());
        return 1;
    }
    for (const std::string& t : targets) std::printf("target: %s\n", t.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ZoScsiSrvClient client;  // sends nothing
    std::printf("connected: %s\n", client.IsZoScsiServiceUp(false) ? "yes" : "no");

    ZoScsiSrvClient::LunInfo lun("3", "tgt01", "", 100);
    std::printf("lun: %s\n", lun.str().c_str());

    zo::DecodeLimits limits;  // a header of the framework's zo/ folder
    std::printf("decode depth limit: %u\n", limits.maxDepth);

    CYbError ok;
    std::printf("success is error: %s\n", ok.IsError() ? "yes" : "no");

    void* start = dlsym(RTLD_DEFAULT, "ZoScsiSrvStart");
    if (start == nullptr || start != reinterpret_cast<void*>(&ZoScsiSrvStart)) {
        std::printf("dlsym ZoScsiSrvStart: not found\n");
        return 1;
    }
    Dl_info info;
    if (dladdr(start, &info) == 0 || info.dli_fname == nullptr) {
        std::printf("dladdr ZoScsiSrvStart: failed\n");
        return 1;
    }
    std::printf("ZoScsiSrvStart from: %s\n", info.dli_fname);

    if (argc >= 3 && std::strcmp(argv[1], "session") == 0) return RunSession(argv[2]);
    return 0;
}
