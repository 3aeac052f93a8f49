#include "app/ServiceRunner.h"

#include "app/StateFolder.h"
#include "app/SystemdNotify.h"
#include "backend/BackendFactory.h"
#include "common/ServiceLog.h"
#include "inventory/Inventory.h"
#include "LogWriter.h"
#include "protocol/Dispatcher.h"
#include "zo/InstanceIdentity.h"
#include "zo/LaunchContext.h"
#include "zo/Limits.h"
#include "zo/ServiceListener.h"

#include <boost/make_shared.hpp>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

#ifndef ZO_VERSION
#define ZO_VERSION "0"
#endif

namespace zoscsi {
namespace {

constexpr const char* kWhere = "zoscsisrv";
constexpr int kLockWaitMillis = 3000;

std::atomic<zo::ServiceListener*> g_listener{nullptr};

// The launcher's ready descriptor; -1 when started by hand, or once used.
// Every start-up refusal goes through Fail, which also writes it here, so the
// launcher hands the reason to its caller; readiness is written once the
// listener listens.
int g_readyFd = -1;

extern "C" void StopOnSignal(int) {
    if (zo::ServiceListener* listener = g_listener.load()) listener->Stop();
}

void InstallSignals() {
    struct sigaction stop {};
    stop.sa_handler = StopOnSignal;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

int Fail(int status, const std::string& text) {
    ServiceLog(-1, kWhere, text);
    zo::ReportRefusal(g_readyFd, text);
    return status;
}

// Requests are small (names, option texts and command arguments of a few
// KiB), so the bounds on what one connection can make the service decode sit
// far above any real request but far below the 64 MiB an answer may take.
zo::DecodeLimits RequestLimits() {
    zo::DecodeLimits limits;
    limits.maxFrameBytes = 1u << 20;
    limits.maxDepth = 8;
    limits.maxFields = 4096;
    return limits;
}

zo::ListenerOptions ListenerOptionsOf(const ServiceConfig& config, const SystemdNotify& systemd) {
    zo::ListenerOptions options;
    options.heartbeatMillis = systemd.KeepAliveMillis();
    options.heartbeat = [&systemd] { systemd.KeepAlive(); };
    options.limits = RequestLimits();
    options.endpoint = config.endpoint;
    options.sessionId = config.sessionId;
    options.maxConnections = config.maxConnections;
    options.maxPending = config.maxPending;
    options.maxPendingPerPeer = config.maxPendingPerAddress;
    options.sessionDeadlineSec = config.sessionDeadlineSec;
    options.frameDeadlineSec = config.frameDeadlineSec;
    options.tls = config.tls;
    options.allowPlainTcp = config.allowPlainTcp;
    options.idleExitSec = config.idleExitSec;
    return options;
}

// --init-state: marks the state root so that RequireMountedState takes it.
int InitialiseState(const CommandLine& line, const ConfigSources& sources) {
    std::string root, error;
    if (!CheckSettingKeys(sources, error) || !ResolveStateRoot(line, sources, root, error) ||
        !InitialiseStateRoot(root, error))
        return Fail(kExitConfig, error);
    std::printf("zoscsisrv: state root %s is initialised\n", root.c_str());
    return kExitOk;
}

}  // namespace

int RunService(const ServiceConfig& config, const ConfigSources& reloadSources, const SystemdNotify& systemd) {
    std::string error;
    StateFolders folders;
    switch (PrepareStateFolders(config.stateDir, config.clientName, config.requireMountedState, folders, error)) {
        case StateOutcome::kReady: break;
        case StateOutcome::kNotInitialised: return Fail(kExitInventory, "refusing to start: " + error);
        case StateOutcome::kUnsafe: return Fail(kExitConfig, "refusing to start: " + error);
    }
    const std::string& folder = folders.folder;
    InstanceLock lock;
    switch (lock.Acquire(folder, kLockWaitMillis, error)) {
        case LockResult::Taken: break;
        case LockResult::Held: return Fail(kExitLocked, error);
        case LockResult::Failed: return Fail(kExitCantCreate, error);
    }

    std::unique_ptr<InventoryStore> store;
    try {
        store = std::make_unique<InventoryStore>(folder);
    } catch (const std::exception& failure) {
        return Fail(kExitInventory, std::string("refusing to start: ") + failure.what());
    }

    BackendContext context{config.clientName, folder, reloadSources.setting};
    std::unique_ptr<Backend> backend = MakeBackend(config.backend, context, error);
    if (!backend) return Fail(kExitConfig, error);

    Inventory inventory(*store, *backend);
    // Without waiting for a restore: the service answers (and tells the
    // launcher it is ready) while a large inventory's exports come back.
    const ServiceStatus started = inventory.Start(ZoScsiServer::ISCSI, false);
    if (!started.ok()) ServiceLog(-1, kWhere, "backend not started yet (retried before the next change): " + started.text);

    const ServiceIdentity identity{config.clientName, ZO_VERSION, static_cast<long>(getpid()),
                                   static_cast<int64_t>(std::time(nullptr))};
    // A reload reads the file anew and takes nothing from it unless all of it is sound.
    const bool fileRequired = reloadSources.fileRequired;
    ServiceCore core(inventory, identity, config.sizes, [fileRequired](LunSizeSettings& sizes, std::string& why) {
        ConfigSources fresh;
        return ProcessConfigSources(fileRequired, fresh, why) && CheckSettingKeys(fresh, why) &&
               LoadLunSizes(fresh, sizes, why);
    });
    Dispatcher dispatcher(core, zo::DecodeLimits().maxFrameBytes);

    int status = kExitOk;
    {
        zo::ServiceListener listener(ListenerOptionsOf(config, systemd),
                                     [&dispatcher](const CNMessageBase& request, const zo::PeerInfo&) {
                                         return dispatcher.Handle(request);
                                     });
        const CYbError listening = listener.Start();
        if (listening.IsError()) {
            status = Fail(kExitFailure, "cannot listen on " + config.endpoint + ": " + listening.ToString());
        } else {
            zo::ReportReady(g_readyFd);
            g_listener = &listener;
            InstallSignals();
            const std::string serving = "serving client " + config.clientName + " on " + listener.BoundEndpoint() +
                                        " with backend " + backend->Name();
            ServiceLog(1, kWhere, serving + ", inventory " + store->path());
            systemd.Ready(serving);
            listener.Run();
            g_listener = nullptr;
            const std::string stopping = "stopping after " + std::to_string(listener.ServedRequests()) + " requests";
            systemd.Stopping(stopping);
            ServiceLog(1, kWhere, stopping);
        }
    }
    inventory.Stop();
    return status;
}

int ServiceMain(int argc, char** argv) {
    const zo::LaunchContext launch = zo::LaunchContextFromEnvironment();
    if (launch.launched) g_readyFd = launch.readyFd;
    CommandLine line;
    std::string error;
    const std::vector<std::string> arguments(argv, argv + argc);
    if (!ParseCommandLine(std::vector<std::string>(arguments.begin() + 1, arguments.end()), line, error)) {
        std::fprintf(stderr, "zoscsisrv: %s\n%s", error.c_str(), UsageText().c_str());
        zo::ReportRefusal(g_readyFd, "unusable command line: " + error);
        return kExitUsage;
    }
    if (line.help) {
        std::fputs(UsageText().c_str(), stdout);
        return kExitOk;
    }
    if (line.version) {
        std::printf("zoscsisrv %s\n", ZO_VERSION);
        return kExitOk;
    }
    if (!line.config.empty()) setenv("ZO_CONFIG", line.config.c_str(), 1);
    // The log level is read once the configuration file is known. Unlike a
    // host program, the service logs refusals (level 0) unless told otherwise.
    g_ptrLogWriter = boost::make_shared<StderrLogWriter>(StderrLogWriter::ConfiguredLevel(0));
    const SystemdNotify systemd(launch.launched);
    ConfigSources sources;
    if (!ProcessConfigSources(!line.config.empty(), sources, error)) return Fail(kExitConfig, error);
    if (line.initState) return InitialiseState(line, sources);
    ServiceConfig config;
    if (!ResolveConfig(line, launch, sources, config, error)) return Fail(kExitConfig, error);
    if (zo::RecordInstanceIdentity(launch, IdentityOf(line, sources, config, arguments), error) != 0)
        return Fail(kExitCantCreate, error);
    // The programs the backends run need not see the secret.
    unsetenv("ZO_ODS_SESSION");
    try {
        return RunService(config, sources, systemd);
    } catch (const std::exception& failure) {
        return Fail(kExitFailure, std::string("stopped by an unexpected failure: ") + failure.what());
    }
}

}  // namespace zoscsi
