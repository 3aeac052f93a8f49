#include "ZOOnDemandSvcClient.h"

#include "Endpoint.h"
#include "FXErrorUtil.h"
#include "InprocState.h"
#include "InstanceDir.h"
#include "LaunchOutcome.h"
#include "LocalInstance.h"
#include "LogWriter.h"
#include "ServiceRegistry.h"
#include "SessionHandshake.h"

#include <cerrno>
#include <cstdlib>

namespace W = CNSession::Wire;

namespace {

constexpr const char* kFile = "ZOOnDemandSvcClient";
constexpr const char* kSubmitFunction =
    "CYbError ZOOnDemandSvcClient::SubmitTask(CNSession::LaunchOnDemandServiceReq&, "
    "CNSession::LaunchOnDemandServiceDetails&)";
constexpr const char* kFindFunction =
    "CYbError ZOOnDemandSvcClient::FindTask(CNSession::LaunchOnDemandServiceReq&, "
    "CNSession::LaunchOnDemandServiceDetails&)";
constexpr const char* kStopFunction =
    "CYbError ZOOnDemandSvcClient::StopTask(CNSession::LaunchOnDemandServiceReq&, bool, long long&)";
constexpr const char* kAttachFunction =
    "CYbError ZOOnDemandSvcClient::Attach(CNSession::LaunchOnDemandServiceDetails&, CZoNetwork&)";

CYbError Failure(const char* function, int line, int code, const std::string& text,
                 FXErrorSpace space = FXErrorSpace::ErrNo) {
    return FXErrorUtil::Make(FXCodeLocation(kFile, function, line), space, static_cast<unsigned>(code), text);
}

struct Requested {
    std::string service;
    std::string client;
    zo::ServiceEntry entry;
};

// The service and client names of a launch request and the service's
// registry entry; an error for bad names or an unknown service.
CYbError ReadRequest(const char* function, CNSession::LaunchOnDemandServiceReq& request, Requested& requested) {
    requested.service = request.getstring(2, 5, W::kLaunchReqType, W::kLaunchReqServiceName);
    requested.client = request.getstring(1, 1, W::kLaunchReqType, W::kLaunchReqClientName);
    std::string why;
    if (!zo::ValidInstanceName(requested.service, why))
        return Failure(function, __LINE__, EINVAL, "bad service name \"" + requested.service + "\": " + why);
    if (!zo::ValidInstanceName(requested.client, why))
        return Failure(function, __LINE__, EINVAL, "bad client name \"" + requested.client + "\": " + why);
    if (!zo::LookupService(requested.service, requested.entry, why)) return Failure(function, __LINE__, ENOENT, why);
    return CYbError::Success();
}

// The details of an entry that names a running service (nothing is started).
CYbError RunningService(const char* function, const Requested& requested, zo::LaunchOutcome& outcome) {
    zo::EndpointAddress address;
    std::string why;
    if (!zo::ParseEndpoint(requested.entry.endpoint, address, why))
        return Failure(function, __LINE__, EINVAL,
                       "bad endpoint \"" + requested.entry.endpoint + "\" for service " + requested.service + ": " + why);
    if (address.kind == zo::EndpointAddress::Kind::Inproc)
        return zo::InprocSubmit(address.name, requested.service, requested.client, outcome);
    outcome.endpoint = requested.entry.endpoint;
    outcome.sessionId = requested.entry.sessionId;
    return CYbError::Success();
}

// SubmitTask and FindTask: the details, or the reason no instance serves.
CYbError Launch(const char* function, CNSession::LaunchOnDemandServiceReq& request,
                CNSession::LaunchOnDemandServiceDetails& details, zo::InstanceMode mode) {
    Requested requested;
    CYbError result = ReadRequest(function, request, requested);
    if (result.IsError()) return result;
    zo::LaunchOutcome outcome;
    outcome.serviceName = requested.service;
    if (requested.entry.running) {
        result = RunningService(function, requested, outcome);
        if (result.IsError()) return result;
        zo::WriteLaunchDetails(outcome, details);
        return CYbError::Success();
    }
    std::string reason;
    outcome = zo::LaunchLocalInstance(requested.service, requested.client, requested.entry, mode, reason);
    zo::WriteLaunchDetails(outcome, details);
    if (outcome.errorNumber == 0) return CYbError::Success();
    const std::string text = requested.service + " for client " + requested.client + ": " + reason;
    if (g_ptrLogWriter && g_ptrLogWriter->GetLevel() >= 0)
        g_ptrLogWriter->Write(0, function, __LINE__, 0, 0, "launch failed (%lld): %s", outcome.errorNumber,
                              text.c_str());
    // "Nothing runs" is an answer to FindTask, not a failed launch.
    const bool none = mode == zo::InstanceMode::FindOnly && outcome.errorNumber == ESRCH;
    return Failure(function, __LINE__, static_cast<int>(outcome.errorNumber), text,
                   none ? FXErrorSpace::ErrNo : FXErrorSpace::Launch);
}

}  // namespace

namespace zo {

void WriteLaunchDetails(const LaunchOutcome& outcome, CNSession::LaunchOnDemandServiceDetails& details) {
    details.setint64(1, 1, outcome.errorNumber, W::kLaunchDetailsType, W::kDetailsErrorNumber);
    details.setstring(3, 6, outcome.sessionId, W::kLaunchDetailsType, W::kDetailsSessionId);
    details.setstring(2, 2, outcome.serviceName, W::kLaunchDetailsType, W::kDetailsServiceName);
    details.setstring(4, 4, outcome.endpoint, W::kLaunchDetailsType, W::kDetailsEndpoint);
    details.setint64(5, 5, outcome.processId, W::kLaunchDetailsType, W::kDetailsProcessId);
}

std::string DetailsEndpoint(const CNSession::LaunchOnDemandServiceDetails& details) {
    return details.getstring(4, 4, W::kLaunchDetailsType, W::kDetailsEndpoint);
}

std::string DetailsSessionId(const CNSession::LaunchOnDemandServiceDetails& details) {
    return details.getstring(3, 6, W::kLaunchDetailsType, W::kDetailsSessionId);
}

}  // namespace zo

ZOOnDemandSvcClient::ZOOnDemandSvcClient() = default;

ZOOnDemandSvcClient::~ZOOnDemandSvcClient() = default;

CYbError ZOOnDemandSvcClient::SubmitTask(CNSession::LaunchOnDemandServiceReq& request,
                                         CNSession::LaunchOnDemandServiceDetails& details) {
    // A process that must not start a service (a status query) says so for
    // every launch it makes, also those a library makes for it.
    const char* noStart = std::getenv("ZO_LAUNCH_NO_START");
    const bool findOnly = noStart && *noStart && std::string(noStart) != "0";
    return Launch(kSubmitFunction, request, details,
                  findOnly ? zo::InstanceMode::FindOnly : zo::InstanceMode::StartOrReuse);
}

CYbError ZOOnDemandSvcClient::FindTask(CNSession::LaunchOnDemandServiceReq& request,
                                       CNSession::LaunchOnDemandServiceDetails& details) {
    return Launch(kFindFunction, request, details, zo::InstanceMode::FindOnly);
}

CYbError ZOOnDemandSvcClient::StopTask(CNSession::LaunchOnDemandServiceReq& request, bool force,
                                       long long& stoppedPid) {
    stoppedPid = 0;
    Requested requested;
    CYbError result = ReadRequest(kStopFunction, request, requested);
    if (result.IsError()) return result;
    if (requested.entry.running)
        return Failure(kStopFunction, __LINE__, EINVAL,
                       requested.service + " is a running service at " + requested.entry.endpoint +
                           ", not an instance this launcher started");
    const zo::StopOutcome stop = zo::StopLocalInstance(requested.service, requested.client, force);
    stoppedPid = stop.pid;
    if (stop.errorNumber == 0) return CYbError::Success();
    return Failure(kStopFunction, __LINE__, stop.errorNumber,
                   requested.service + " for client " + requested.client + ": " + stop.reason);
}

CYbError ZOOnDemandSvcClient::Attach(CNSession::LaunchOnDemandServiceDetails& details, CZoNetwork& network) {
    const std::string endpoint = zo::DetailsEndpoint(details);
    zo::EndpointAddress address;
    std::string error;
    if (endpoint.empty()) return Failure(kAttachFunction, __LINE__, EINVAL, "the launch details hold no endpoint");
    if (!zo::ParseEndpoint(endpoint, address, error))
        return Failure(kAttachFunction, __LINE__, EINVAL, "bad endpoint \"" + endpoint + "\": " + error);
    // The scripted peer decides an attach by itself; no handshake crosses it.
    if (address.kind == zo::EndpointAddress::Kind::Inproc) return zo::InprocAttach(address.name, network);
    zo::TlsClientSettings tls;
    if (address.kind == zo::EndpointAddress::Kind::Tls)
        tls = zo::LookupTlsClient(details.getstring(2, 2, W::kLaunchDetailsType, W::kDetailsServiceName));
    const int code = zo::PresentSession(network, endpoint, zo::DetailsSessionId(details),
                                        zo::Deadline::FromMillis(zo::LaunchTimeoutMillis()), error, tls);
    if (code != 0) return Failure(kAttachFunction, __LINE__, code, error);
    return CYbError::Success();
}
