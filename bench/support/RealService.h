// A private zoscsisrv for a benchmark: its own runtime, state and
// configuration folders under `root`, launched on demand by the library as a
// host would (the registry entry names the built program). The environment of
// this process is pointed at them. ZO_BENCH_SERVICE_PREFIX, when set, is put
// in front of the program (a tracer or profiler and its arguments).
#pragma once

#include "CYbError.h"

#include <string>

class ZoScsiSrvClient;

namespace zobench {

class RealService {
public:
    // `settings`: lines of the [ZoScsiSrv] section ("Backend = tgt\n...").
    explicit RealService(const std::string& root, const std::string& settings = "");
    ~RealService();  // stops every instance it launched
    RealService(const RealService&) = delete;
    RealService& operator=(const RealService&) = delete;

    // The inventory folder of the instance for `clientName`.
    std::string StateFolder(const std::string& clientName) const;

    // Initializes `client` for `clientName`: launches the instance or reuses it.
    CYbError Connect(ZoScsiSrvClient& client, const std::string& clientName) const;
    // Writes the configuration again with `settings` as its [ZoScsiSrv]
    // section; an instance reads it at its next start.
    void Configure(const std::string& settings) const;
    // Points this process's environment at this service's folders again (for
    // a program with several RealService roots); Connect does it first.
    void Activate() const;
    // The instance folder of the launched `clientName` (pid, service.log).
    std::string InstanceFolder(const std::string& clientName) const;

    // Stops (SIGTERM, then SIGKILL after 5 s) every instance launched here.
    void StopAll();

private:
    std::string m_root;
};

}  // namespace zobench
