#include "zo/LaunchContext.h"

#include "WholeNumber.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace zo {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// A whole decimal number within [low, high], else `fallback`.
int EnvNumber(const char* name, int low, int high, int fallback) {
    long value = 0;
    return ParseWholeNumber(Env(name), low, high, value) ? static_cast<int>(value) : fallback;
}

}  // namespace

LaunchContext LaunchContextFromEnvironment() {
    LaunchContext context;
    context.endpoint = Env("ZO_ODS_ENDPOINT");
    context.launched = std::getenv("ZO_ODS_ENDPOINT") != nullptr;
    context.service = Env("ZO_ODS_SERVICE");
    context.client = Env("ZO_ODS_CLIENT");
    context.sessionId = Env("ZO_ODS_SESSION");
    context.instanceDir = Env("ZO_ODS_INSTANCE_DIR");
    // Standard input, output and error are never the ready descriptor.
    context.readyFd = EnvNumber("ZO_ODS_READY_FD", 3, INT_MAX, -1);
    context.lockFd = EnvNumber("ZO_ODS_LOCK_FD", 3, INT_MAX, -1);
    if (context.lockFd >= 0 && ::fcntl(context.lockFd, F_SETFD, FD_CLOEXEC) != 0) context.lockFd = -1;
    context.idleExitSec = EnvNumber("ZO_ODS_IDLE_EXIT", 0, INT_MAX, 0);
    return context;
}

namespace {

void WriteAll(int fd, const std::string& bytes) {
    for (size_t written = 0; written < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n > 0) written += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR) continue;
        else break;
    }
}

void Report(int& readyFd, const std::string& bytes) {
    if (readyFd < 0) return;
    WriteAll(readyFd, bytes);
    ::close(readyFd);
    readyFd = -1;
}

}  // namespace

void ReportReady(int& readyFd) { Report(readyFd, "R"); }

void ReportRefusal(int& readyFd, const std::string& reason) {
    constexpr size_t kMaxReasonBytes = 1024;
    std::string line = "F" + reason.substr(0, kMaxReasonBytes);
    for (size_t i = 1; i < line.size(); ++i)
        if (line[i] == '\n' || line[i] == '\r') line[i] = ' ';
    Report(readyFd, line + "\n");
}

}  // namespace zo
