// A tiny on-demand service for the launcher tests: reads its launch context,
// listens where it is told and answers every request with its own pid and
// the request's text. Arguments change how it starts:
//   --exit N            exit with status N before it is ready
//   --refuse TEXT       say why it will not serve, then exit with status 78
//   --never-ready       never report ready (the launcher must give up)
//   --delay-ms N        wait before listening (widens launch races)
//   --max-connections N serve at most N connections at once
//   --identity VAR      record the environment variable VAR as its identity
#include "zo/InstanceIdentity.h"
#include "zo/LaunchContext.h"
#include "zo/ServiceListener.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

namespace {

constexpr unsigned long kType = 0x77000001;
constexpr unsigned int kText = 0x11;
constexpr unsigned int kPid = 0x13;

zo::ServiceListener* g_listener = nullptr;

extern "C" void StopOnSignal(int) {
    if (g_listener) g_listener->Stop();
}

std::unique_ptr<CNMessageBase> Echo(const CNMessageBase& request, const zo::PeerInfo&) {
    auto answer = std::make_unique<CNMessageBase>(77, 6);
    answer->setstring(1, 1, request.getstring(1, 1, kType, kText), kType, kText);
    answer->setint64(3, 3, ::getpid(), kType, kPid);
    return answer;
}

}  // namespace

int main(int argc, char** argv) {
    zo::LaunchContext context = zo::LaunchContextFromEnvironment();
    bool neverReady = false;
    int maxConnections = 256;
    const char* identityVariable = nullptr;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--exit") == 0 && hasValue) return std::atoi(argv[++i]);
        if (std::strcmp(argv[i], "--refuse") == 0 && hasValue) {
            std::fprintf(stderr, "echo service: %s\n", argv[i + 1]);
            zo::ReportRefusal(context.readyFd, argv[i + 1]);
            return 78;
        }
        if (std::strcmp(argv[i], "--never-ready") == 0) neverReady = true;
        if (std::strcmp(argv[i], "--delay-ms") == 0 && hasValue)
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[++i])));
        if (std::strcmp(argv[i], "--max-connections") == 0 && hasValue) maxConnections = std::atoi(argv[++i]);
        if (std::strcmp(argv[i], "--identity") == 0 && hasValue) identityVariable = argv[++i];
    }
    if (!context.launched) {
        std::fprintf(stderr, "echo service: not started by the launcher\n");
        return 64;
    }
    if (identityVariable) {
        zo::InstanceIdentity identity;
        identity.serves = std::string("echo of ") + (std::getenv(identityVariable) ? std::getenv(identityVariable) : "");
        identity.arguments.assign(argv, argv + argc);
        identity.AddEnvironment(identityVariable, std::getenv(identityVariable));
        std::string error;
        if (zo::RecordInstanceIdentity(context, identity, error) != 0) {
            zo::ReportRefusal(context.readyFd, error);
            return 73;
        }
    }
    if (neverReady) {
        std::this_thread::sleep_for(std::chrono::seconds(60));
        return 0;
    }
    zo::ListenerOptions options;
    options.endpoint = context.endpoint;
    options.sessionId = context.sessionId;
    options.readyFd = context.readyFd;
    options.idleExitSec = context.idleExitSec;
    options.maxConnections = maxConnections;
    options.frameDeadlineSec = 5;
    zo::ServiceListener listener(options, Echo);
    g_listener = &listener;
    struct sigaction action {};
    action.sa_handler = StopOnSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    const CYbError error = listener.Start();
    if (error.IsError()) {
        std::fprintf(stderr, "echo service: %s\n", error.ToString().c_str());
        return 65;
    }
    std::printf("echo service %d serving %s for %s\n", static_cast<int>(::getpid()), context.endpoint.c_str(),
                context.client.c_str());
    std::fflush(stdout);
    listener.Run();
    return 0;
}
