// A tiny on-demand service for the launcher tests: reads its launch context,
// listens where it is told and answers every request with its own pid and
// the request's text. Arguments change how it starts:
//   --exit N       exit with status N before it is ready
//   --never-ready  never report ready (the launcher must give up)
//   --delay-ms N   wait before listening (widens launch races)
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
    bool neverReady = false;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--exit") == 0 && hasValue) return std::atoi(argv[++i]);
        if (std::strcmp(argv[i], "--never-ready") == 0) neverReady = true;
        if (std::strcmp(argv[i], "--delay-ms") == 0 && hasValue)
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[++i])));
    }
    const zo::LaunchContext context = zo::LaunchContextFromEnvironment();
    if (!context.launched) {
        std::fprintf(stderr, "echo service: not started by the launcher\n");
        return 64;
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
