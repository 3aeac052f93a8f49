// CNSession: the on-demand launcher's session messages (message group 9).
#pragma once

#include "CNMessageBase.h"

namespace CNSession {

// Schema numbers of the session messages. The launch request, the launch
// details (fields 1, (3,6), (2,2)) and the validation request are the host's;
// the endpoint and process fields of the details and the validation response
// are this framework's own additions.
namespace Wire {
constexpr int kGroup = 9;

constexpr int kLaunchReqId = 60;
constexpr unsigned long kLaunchReqType = 0x9FBF786;
constexpr unsigned int kLaunchReqServiceName = 0xAA704C;   // (2,5)
constexpr unsigned int kLaunchReqClientName = 0x681EF1;    // (1,1)

constexpr int kLaunchDetailsId = 57;
constexpr unsigned long kLaunchDetailsType = 0x9497D2A;
constexpr unsigned int kDetailsErrorNumber = 0xCDCFF2;     // field 1, int64
constexpr unsigned int kDetailsSessionId = 0x309689;       // (3,6)
constexpr unsigned int kDetailsServiceName = 0xC52E0;      // (2,2)
constexpr unsigned int kDetailsEndpoint = 0xE0D4E;         // (4,4): unix:PATH or tcp:HOST:PORT or inproc:NAME
constexpr unsigned int kDetailsProcessId = 0xE0D50;        // (5,5): service pid, 0 when remote

constexpr int kValidateReqId = 51;
constexpr unsigned long kValidateReqType = 0x99C9870;
constexpr unsigned int kValidateReqSessionId = 0x309689;   // (1,1)

constexpr int kValidateRespId = 52;
constexpr unsigned long kValidateRespType = 0x9C1E52A;
constexpr unsigned int kValidateRespStatus = 0x11145;      // (2,2), object group 9 id 13
constexpr int kStatusId = 13;
constexpr unsigned long kStatusType = 0x901E1E8;
constexpr unsigned int kStatusErrorNumber = 0x39E001;      // (1,1) int64
constexpr unsigned int kStatusErrorText = 0x39F2AC;        // (2,2) string

// Answer of a service to a frame it cannot decode, before it closes.
constexpr int kProtocolErrorId = 1;
constexpr unsigned long kProtocolErrorType = 0x9E7707E;
constexpr unsigned int kProtocolErrorStatus = 0x11145;     // (2,2), object group 9 id 13
}  // namespace Wire

class LaunchOnDemandServiceReq : public CNMessageBase {
public:
    LaunchOnDemandServiceReq() : CNMessageBase(Wire::kGroup, Wire::kLaunchReqId) {}
};

class LaunchOnDemandServiceDetails : public CNMessageBase {
public:
    LaunchOnDemandServiceDetails() : CNMessageBase(Wire::kGroup, Wire::kLaunchDetailsId) {}
};

class ValidateODSSessionReq : public CNMessageBase {
public:
    ValidateODSSessionReq() : CNMessageBase(Wire::kGroup, Wire::kValidateReqId) {}
};

class ValidateODSSessionResp : public CNMessageBase {
public:
    ValidateODSSessionResp() : CNMessageBase(Wire::kGroup, Wire::kValidateRespId) {}
};

}  // namespace CNSession
