#include "support/RealService.h"

#include "ZoScsiSrvClient.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace zobench {

RealService::RealService(const std::string& root, const std::string& settings) : m_root(root) {
    fs::create_directories(m_root + "/run");
    fs::create_directories(m_root + "/state");
    fs::permissions(m_root + "/run", fs::perms::owner_all);
    fs::permissions(m_root + "/state", fs::perms::owner_all);
    Configure(settings);
    Activate();
}

void RealService::Configure(const std::string& settings) const {
    // ZO_BENCH_SERVICE_PREFIX (e.g. "strace -f -c -o /tmp/service.txt")
    // runs the service under another program, to look inside it.
    const char* prefix = std::getenv("ZO_BENCH_SERVICE_PREFIX");
    std::ofstream(m_root + "/zo.conf", std::ios::trunc)
        << "[OnDemandServices]\nZoScsiSrv = " << (prefix && *prefix ? std::string(prefix) + " " : std::string())
        << ZO_BENCH_ZOSCSISRV << "\nZoScsiSrv.idle_exit = 600\n"
        << (settings.empty() ? std::string() : "\n[ZoScsiSrv]\n" + settings);
}

void RealService::Activate() const {
    setenv("ZO_RUNTIME_DIR", (m_root + "/run").c_str(), 1);
    setenv("ZO_STATE_DIR", (m_root + "/state").c_str(), 1);
    setenv("ZO_CONFIG", (m_root + "/zo.conf").c_str(), 1);
    unsetenv("ZO_SERVICE_ZoScsiSrv");
    unsetenv("ZO_SERVICE_ZoScsiSrv_SESSION");
}

std::string RealService::InstanceFolder(const std::string& clientName) const {
    return m_root + "/run/ZoScsiSrv/" + clientName;
}

RealService::~RealService() { StopAll(); }

std::string RealService::StateFolder(const std::string& clientName) const {
    return m_root + "/state/" + clientName;
}

CYbError RealService::Connect(ZoScsiSrvClient& client, const std::string& clientName) const {
    Activate();
    return client.Initialize(clientName, "bench", 0);
}

void RealService::StopAll() {
    const fs::path services = fs::path(m_root) / "run" / "ZoScsiSrv";
    std::error_code ec;
    if (!fs::is_directory(services, ec)) return;
    for (const auto& instance : fs::directory_iterator(services, ec)) {
        std::ifstream pidFile(instance.path() / "pid");
        long pid = 0;
        if (!(pidFile >> pid) || pid <= 1) continue;
        const pid_t process = static_cast<pid_t>(pid);
        if (::kill(process, SIGTERM) != 0) continue;
        for (int i = 0; i < 250 && ::kill(process, 0) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (::kill(process, 0) == 0) ::kill(process, SIGKILL);
    }
}

}  // namespace zobench
