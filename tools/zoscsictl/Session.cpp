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

void ApplyTimeout(int seconds) {
    if (seconds <= 0) return;
    const char* launch = std::getenv("ZO_LAUNCH_TIMEOUT");
    char* end = nullptr;
    const double current = launch && *launch ? std::strtod(launch, &end) : kDefaultLaunchSec;
    if (!(current > 0 && current <= seconds)) setenv("ZO_LAUNCH_TIMEOUT", std::to_string(seconds).c_str(), 1);
    setenv("ZO_RECEIVE_TIMEOUT", std::to_string(seconds).c_str(), 1);
}

}  // namespace zoctl
