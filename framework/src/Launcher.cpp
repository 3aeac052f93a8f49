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

namespace W = CNSession::Wire;

namespace {

constexpr const char* kFile = "ZOOnDemandSvcClient";
constexpr const char* kSubmitFunction =
    "CYbError ZOOnDemandSvcClient::SubmitTask(CNSession::LaunchOnDemandServiceReq&, "
    "CNSession::LaunchOnDemandServiceDetails&)";
constexpr const char* kAttachFunction =
    "CYbError ZOOnDemandSvcClient::Attach(CNSession::LaunchOnDemandServiceDetails&, CZoNetwork&)";

CYbError Failure(const char* function, int line, int code, const std::string& text) {
    return FXErrorUtil::Make(FXCodeLocation(kFile, function, line), FXErrorSpace::ErrNo, static_cast<unsigned>(code),
                             text);
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
    const std::string service = request.getstring(2, 5, W::kLaunchReqType, W::kLaunchReqServiceName);
    const std::string client = request.getstring(1, 1, W::kLaunchReqType, W::kLaunchReqClientName);
    std::string why;
    if (!zo::ValidInstanceName(service, why))
        return Failure(kSubmitFunction, __LINE__, EINVAL, "bad service name \"" + service + "\": " + why);
    if (!zo::ValidInstanceName(client, why))
        return Failure(kSubmitFunction, __LINE__, EINVAL, "bad client name \"" + client + "\": " + why);
    zo::ServiceEntry entry;
    if (!zo::LookupService(service, entry, why)) return Failure(kSubmitFunction, __LINE__, ENOENT, why);

    zo::LaunchOutcome outcome;
    outcome.serviceName = service;
    if (entry.running) {
        zo::EndpointAddress address;
        if (!zo::ParseEndpoint(entry.endpoint, address, why))
            return Failure(kSubmitFunction, __LINE__, EINVAL,
                           "bad endpoint \"" + entry.endpoint + "\" for service " + service + ": " + why);
        if (address.kind == zo::EndpointAddress::Kind::Inproc) {
            CYbError result = zo::InprocSubmit(address.name, service, client, outcome);
            if (result.IsError()) return result;
        } else {
            outcome.endpoint = entry.endpoint;
            outcome.sessionId = entry.sessionId;
        }
    } else {
        outcome = zo::StartOrReuseInstance(service, client, entry, why);
        if (outcome.errorNumber != 0 && g_ptrLogWriter && g_ptrLogWriter->GetLevel() >= 0)
            g_ptrLogWriter->Write(0, kSubmitFunction, __LINE__, 0, 0, "launch of %s for %s failed (%lld): %s",
                                  service.c_str(), client.c_str(), outcome.errorNumber, why.c_str());
    }
    zo::WriteLaunchDetails(outcome, details);
    return CYbError::Success();
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
                                        zo::LaunchTimeoutSeconds(), error, tls);
    if (code != 0) return Failure(kAttachFunction, __LINE__, code, error);
    return CYbError::Success();
}
