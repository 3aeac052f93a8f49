#include "ClientSupport.h"

#include "CNSession.h"
#include "CZoNetwork.h"
#include "FXErrorUtil.h"
#include "ZOOnDemandSvcClient.h"

#include <memory>

using namespace ZoScsiSrvClientInternal;
using namespace CNSession::Wire;

namespace {

constexpr const char* kInitialize = "CYbError ZoScsiSrvClient::Initialize(const string&, const string&, ULONG)";
constexpr const char* kConnect = "CYbError ZoScsiSrvClient::Connect()";
constexpr const char* kIsZoScsiServiceUp = "bool ZoScsiSrvClient::IsZoScsiServiceUp(bool)";

constexpr const char* kServiceName = "ZoScsiSrv";
constexpr int kValidateTimeLimit = 300;

}  // namespace

ZoScsiSrvClient::ZoScsiSrvClient()
    : m_ulInitParam(0),
      m_ptrLaunchReq(new CNSession::LaunchOnDemandServiceReq()),
      m_ptrLaunchDetails(new CNSession::LaunchOnDemandServiceDetails()),
      m_ptrOnDemandClient(new ZOOnDemandSvcClient()),
      m_ptrNetwork(new CZoNetwork()),
      m_bConnected(false) {}

// Members go in reverse order of declaration: the connection first.
ZoScsiSrvClient::~ZoScsiSrvClient() = default;

CYbError ZoScsiSrvClient::Initialize(const std::string& clientName, const std::string& processName,
                                     ULONG initParam) {
    const auto tracer = StartTracer(kInitialize, __LINE__);
    m_strClientName = clientName;
    m_strProcessName = processName;
    m_ulInitParam = initParam;

    m_ptrLaunchReq->setstring(2, 5, kServiceName, kLaunchReqType, kLaunchReqServiceName);
    m_ptrLaunchReq->setstring(1, 1, m_strClientName, kLaunchReqType, kLaunchReqClientName);
    CYbError error = m_ptrOnDemandClient->SubmitTask(*m_ptrLaunchReq, *m_ptrLaunchDetails);
    if (error.IsError()) return error.Push(ZO_CLIENT_HERE(kInitialize), "ZOOnDemandSvcClient::SubmitTask failed");

    const int32_t launchError = Low32(m_ptrLaunchDetails->getint64(1, kLaunchDetailsType, kDetailsErrorNumber));
    if (launchError != 0)
        return FXErrorUtil::ErrorWin32(ZO_CLIENT_HERE(kInitialize), kServiceFailure,
                                       "Failed to launch the ZoScsiSrv Service, error=%d", launchError);

    error = Connect();
    if (error.IsError()) return error.Push(ZO_CLIENT_HERE(kInitialize));
    return CYbError::Success();
}

CYbError ZoScsiSrvClient::Connect() {
    CYbError error = m_ptrOnDemandClient->Attach(*m_ptrLaunchDetails, *m_ptrNetwork);
    if (error.IsError()) return error.Push(ZO_CLIENT_HERE(kConnect), "ZOOnDemandSvcClient::Attach failed");
    m_bConnected = true;
    return CYbError::Success();
}

// With validation, the answer depends only on whether the request could be
// sent in time: the reply, if any, is taken off the connection and dropped.
bool ZoScsiSrvClient::IsZoScsiServiceUp(bool validateSession) {
    if (!m_ptrNetwork->IsConnectionGood()) return false;
    if (!validateSession) return true;

    CNSession::ValidateODSSessionReq request;
    request.setstring(1, 1, m_ptrLaunchDetails->getstringByRef(3, 6, kLaunchDetailsType, kDetailsSessionId),
                      kValidateReqType, kValidateReqSessionId);
    bool timedOut = false;
    const CYbError sent = m_ptrNetwork->SendXMLMessage(request, 0, kValidateTimeLimit, timedOut);
    if (sent.IsError() || timedOut) {
        ZO_CLIENT_LOG(-1, kIsZoScsiServiceUp, "Unable to send ValidateODSSessionReq message to on demand service [%s]",
                      m_ptrLaunchDetails->getstringByRef(2, 2, kLaunchDetailsType, kDetailsServiceName).c_str());
        ZO_CLIENT_LOG(0, kIsZoScsiServiceUp, "Will relaunch new ZOODS PSEUDOMOUNT service");
        return false;
    }

    unsigned long outValue = 0;
    CNMessageBase* reply = nullptr;
    (void)m_ptrNetwork->ReceiveXMLMessage(&outValue, reply, nullptr, 0, kValidateTimeLimit, timedOut);
    std::unique_ptr<CNMessageBase> dropped(reply);
    return true;
}
