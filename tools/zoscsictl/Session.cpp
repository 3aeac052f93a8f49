#include "Session.h"

#include "CNSession.h"
#include "FXErrorUtil.h"
#include "ZOOnDemandSvcClient.h"
#include "ZOPlatformInfo.h"

#include <cerrno>
#include <cstdlib>
#include <string>

namespace zoctl {

namespace {

constexpr const char* kProcessName = "zoscsictl";
constexpr const char* kServiceName = "ZoScsiSrv";
constexpr ULONG kInitParam = 0;
constexpr double kDefaultLaunchSec = 10;  // the launcher's default, when ZO_LAUNCH_TIMEOUT is not set

#define ZOCTL_SESSION_HERE(function) FXCodeLocation("zoscsictl", function, __LINE__)

}  // namespace

CYbError ResolveClientName(const std::string& requested, std::string& clientName) {
    if (!requested.empty()) {
        clientName = requested;
        return CYbError::Success();
    }
    ZOPlatformInfo platform;
    const char* shortName = platform.getPhysicalMachine();
    if (!platform.getClientHostNameMangled(shortName, clientName)) {
        return FXErrorUtil::ErrorErrNo(ZOCTL_SESSION_HERE("ResolveClientName"), EINVAL,
                                       "Cannot make a client name of host name [%s]; pass --client NAME",
                                       shortName ? shortName : "");
    }
    return CYbError::Success();
}

CYbError Connect(ZoScsiSrvClient& client, const std::string& clientName, bool runningOnly) {
    if (runningOnly) setenv("ZO_LAUNCH_NO_START", "1", 1);
    return client.Initialize(clientName, kProcessName, kInitParam);
}

bool NothingRuns(const CYbError& error) {
    return error.IsError() && error.Space() == FXErrorSpace::ErrNo && error.Code() == ESRCH;
}

CYbError StopInstance(const std::string& clientName, bool force, long long& stoppedPid) {
    CNSession::LaunchOnDemandServiceReq request;
    request.setstring(2, 5, kServiceName, CNSession::Wire::kLaunchReqType, CNSession::Wire::kLaunchReqServiceName);
    request.setstring(1, 1, clientName, CNSession::Wire::kLaunchReqType, CNSession::Wire::kLaunchReqClientName);
    ZOOnDemandSvcClient launcher;
    return launcher.StopTask(request, force, stoppedPid);
}

void SuggestRecovery(CYbError& error, const std::string& clientName) {
    if (!error.IsError() || error.Space() != FXErrorSpace::Launch) return;
    const std::string command = "zoscsictl --client " + clientName + " restart";
    if (error.Code() == ETIME)
        error.Push(ZOCTL_SESSION_HERE("zoscsictl"), "to end it and start afresh: %s --force", command.c_str());
    else if (error.Code() == EEXIST)
        error.Push(ZOCTL_SESSION_HERE("zoscsictl"), "to restart it with these settings: %s", command.c_str());
}

namespace {

// Sets `name` to `seconds` unless it holds a shorter limit already (or, when
// unset, its default is shorter).
void AtMost(const char* name, int seconds, double unsetDefault) {
    const char* text = std::getenv(name);
    char* end = nullptr;
    const double current = text && *text ? std::strtod(text, &end) : unsetDefault;
    const bool shorter = current > 0 && current <= seconds && (!text || !*text || *end == '\0');
    if (!shorter) setenv(name, std::to_string(seconds).c_str(), 1);
}

}  // namespace

void ApplyTimeout(int seconds) {
    if (seconds <= 0) return;
    AtMost("ZO_LAUNCH_TIMEOUT", seconds, kDefaultLaunchSec);
    AtMost("ZO_RECEIVE_TIMEOUT", seconds, -1);  // unset: no limit
}

}  // namespace zoctl
