// ZoScsiSrvClient: the client of the on-demand SCSI target service ZoScsiSrv.
//
// A program on a storage node constructs a client, calls Initialize (which has
// the host's on-demand launcher launch the service for a client machine and
// attaches a connection to it), and then runs operations. Every operation
// blocks for exactly one request and one response on the client's connection
// (RemapLun2Host runs two) and returns a CYbError: success, or an error with a
// code, a message and the trail of source locations it passed through.
//
// Codes: 258 (0x102) a send or receive timed out; 774 (0x306) the launcher
// or the service reported a failure; 183 (0xB7) AddTarget of a target that
// exists; 13 (0xD) a response without a readable status object; errno 22 an
// empty identifier to a single-filter listing. A failed send or receive keeps
// the connection's own code, and so does a launch that failed (the
// launcher's error, with its reason and the instance's log). Why the service
// refused a request is read with GetServiceError, not out of the message.
//
// Threads: a client carries one exchange at a time and responses carry no
// request identifier, so callers that share a client serialise their calls.
// Separate clients are independent. The library starts no thread and takes no
// lock.
#pragma once

#include "CYbError.h"
#include "ZoScsiServer.h"
#include "ZoTypes.h"

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <string>
#include <vector>

#define ZO_SCSI_CLIENT_API __attribute__((visibility("default")))

class CNMessageBase;
class CZoNetwork;
class ZOOnDemandSvcClient;
namespace CNSession {
class LaunchOnDemandServiceReq;
class LaunchOnDemandServiceDetails;
}
namespace ZoScsiSrvClientInternal {
struct Operation;
struct Reply;
}

// The caller-facing request records. Each begins with a header, which the
// operations send unchanged; a record's header defaults to (1, ISCSI, 0).
namespace ZoScsiSrvClientRequest {

struct RequestHeader {
    int32_t headerValue;
    ZoScsiServer::FabricType fabric;
    int64_t opCtxFlags;  // DeleteLun request: bit 0 set means close, not delete

    RequestHeader(int headerValue, ZoScsiServer::FabricType fabric, long long opCtxFlags)
        : headerValue(headerValue), fabric(fabric), opCtxFlags(opCtxFlags) {}
};

struct StartServiceRequest {
    RequestHeader header;

    explicit StartServiceRequest(RequestHeader header) : header(header) {}
};

struct CreateTargetRequest {
    RequestHeader header{1, ZoScsiServer::ISCSI, 0};
    std::string targetName;    // any case; sent lower-cased
    std::string targetParams;  // sent unchanged; empty means none
};

struct DeleteTargetRequest {
    RequestHeader header{1, ZoScsiServer::ISCSI, 0};
    std::string targetName;
};

struct CreateLunRequest {
    RequestHeader header{1, ZoScsiServer::ISCSI, 0};
    int32_t unusedLunId = 0;   // keeps the layout of the sibling records; never read or sent
    std::string targetName;
    uint32_t lunSetting = 0;   // passed to the service unchanged
    std::string options;       // the service's option text, e.g. "-s 64M"
};

struct OpenLunRequest {
    RequestHeader header{1, ZoScsiServer::ISCSI, 0};
    int32_t lunId = 0;
    std::string targetName;
    uint32_t lunSetting = 0;
};

struct CloseLunRequest {
    RequestHeader header{1, ZoScsiServer::ISCSI, 0};
    int32_t lunId = 0;
    std::string targetName;
};

struct DeleteLunRequest {
    RequestHeader header{1, ZoScsiServer::ISCSI, 0};
    int32_t lunId = 0;
    std::string targetName;
};

struct MapHostRequest {
    RequestHeader header;
    int32_t lunId;
    std::string targetName;
    std::string hostName;  // sent unchanged

    MapHostRequest(int lunId, const std::string& targetName, const std::string& hostName,
                   RequestHeader header)
        : header(header), lunId(lunId), targetName(targetName), hostName(hostName) {}
};

typedef MapHostRequest UnmapHostRequest;

struct RemapHostRequest {
    RequestHeader header{1, ZoScsiServer::ISCSI, 0};  // not used: both inner requests carry (1, ISCSI, 0)
    int32_t lunId = 0;
    std::string targetName;
    std::string fromHostName;
    std::string toHostName;
};

}  // namespace ZoScsiSrvClientRequest

class ZO_SCSI_CLIENT_API ZoScsiSrvClient {
public:
    typedef ZoScsiSrvClientRequest::UnmapHostRequest UnmapHostRequest;

    // One LUN of a listing.
    struct LunInfo {
        std::string lun;
        std::string target;
        std::string host;      // empty when the LUN is mapped to no host
        int64_t creationTime;  // as the service printed it; 0 when it could not be read

        LunInfo(const std::string& lun, const std::string& target, const std::string& host,
                const int64_t& creationTime)
            : lun(lun), target(target), host(host), creationTime(creationTime) {}

        // "Lun: [3] Target: [tgt01] Host: [] Creation Time: [100]"; the time is
        // printed as the unsigned value of its bits.
        std::string str() const;
    };
    typedef LunInfo LunInfo_t;

    // Creates the launch messages, the launcher client and an unconnected
    // connection. Sends nothing.
    ZoScsiSrvClient();
    // Releases the connection and the framework objects. Sends nothing.
    ~ZoScsiSrvClient();

    ZoScsiSrvClient(const ZoScsiSrvClient&) = delete;
    ZoScsiSrvClient& operator=(const ZoScsiSrvClient&) = delete;

    // Has the launcher launch ZoScsiSrv for `clientName` and connects to it.
    // May be called again after a failure, or to reach a relaunched service.
    [[nodiscard]] CYbError Initialize(const std::string& clientName, const std::string& processName,
                                      ULONG initParam);
    // Attaches the connection to the launched service (Initialize calls it).
    [[nodiscard]] CYbError Connect();
    // True while the connection is good (a service that has gone is noticed
    // without a request); with `validateSession` also only when a session
    // validation request could be sent in time. A validation whose answer
    // does not come in time leaves the connection closed, so that the late
    // answer cannot pass for a later request's; Initialize connects again.
    bool IsZoScsiServiceUp(bool validateSession);

    // Starts the service for the fabric in the request's header.
    [[nodiscard]] CYbError StartScsiService(const ZoScsiSrvClientRequest::StartServiceRequest& request);
    // Passes `command` to the service unchanged (docs/SERVICE.md lists them).
    [[nodiscard]] CYbError ReloadConfiguration(const std::string& command);

    [[nodiscard]] CYbError AddTarget(const ZoScsiSrvClientRequest::CreateTargetRequest& request);
    [[nodiscard]] CYbError DeleteTarget(const ZoScsiSrvClientRequest::DeleteTargetRequest& request);

    // On success `lunName` and `createdLunId` hold the service's answer; on
    // any failure "" and -1. The request is not changed.
    [[nodiscard]] CYbError CreateLun(ZoScsiSrvClientRequest::CreateLunRequest& request, std::string& lunName,
                                     int32_t& createdLunId);
    // On success `lunName` holds the service's answer; on any failure "".
    [[nodiscard]] CYbError OpenLun(const ZoScsiSrvClientRequest::OpenLunRequest& request, std::string& lunName);
    // Close and delete send the same message; the caller's header tells them
    // apart (bit 0 of opCtxFlags set: close).
    [[nodiscard]] CYbError CloseLun(const ZoScsiSrvClientRequest::CloseLunRequest& request);
    [[nodiscard]] CYbError DeleteLun(const ZoScsiSrvClientRequest::DeleteLunRequest& request);

    [[nodiscard]] CYbError MapHost(const ZoScsiSrvClientRequest::MapHostRequest& request);
    [[nodiscard]] CYbError UnmapHost(const UnmapHostRequest& request);
    // Unmaps from `fromHostName`, then maps to `toHostName`. A failed map
    // leaves the unmap in effect.
    [[nodiscard]] CYbError RemapLun2Host(const ZoScsiSrvClientRequest::RemapHostRequest& request);

    // Sends a listing command; on success the service's lines are inserted at
    // the front of `lines`. On failure `lines` is unchanged.
    [[nodiscard]] CYbError ListLuns(const std::string& command, const std::string& arguments,
                                    std::vector<std::string>& lines);
    // All LUNs, optionally filtered by target and host (empty: no filter).
    // On success `luns` holds exactly the answer; on failure it is unchanged.
    [[nodiscard]] CYbError ListLuns(std::vector<LunInfo>& luns, const std::string& targetId,
                                    const std::string& hostId);
    [[nodiscard]] CYbError ListLunsByTarget(const std::string& targetId, std::vector<LunInfo>& luns);
    [[nodiscard]] CYbError ListLunsByHost(const std::string& hostId, std::vector<LunInfo>& luns);
    // Sends `command` (the service's target listing word is "lt"); on success
    // the answer's lines are inserted at the front of `targets`.
    [[nodiscard]] CYbError ListTargets(const std::string& command, std::vector<std::string>& targets);

    // The service's refusal behind an error that an operation returned: true
    // when the service answered the request with a non-zero error number
    // (every operation's "Failed to ..." error, the reload's and the
    // listings' included, also as passed on by RemapLun2Host and the filtered
    // listings), with that number (ZoScsiServer::ServiceErrorNumber) and the
    // service's error text. False for success and for every other failure:
    // launch, connection, time-out, a malformed answer, a bad argument.
    static bool GetServiceError(const CYbError& error, int32_t& errorNumber, std::string& errorText);

private:
    // The one request exchange of every service operation (the operation's
    // row in client/src/ClientOperations.h names it): sends `request`,
    // receives one response and reads its status object. Returns the send or
    // receive failure, or code 13 for a response without a readable status;
    // otherwise success with the response and its error number in `reply`.
    CYbError Exchange(const ZoScsiSrvClientInternal::Operation& operation, CNMessageBase& request,
                      ZoScsiSrvClientInternal::Reply& reply);

    // The body of ListLunsByTarget and ListLunsByHost; `filterKind` and
    // `filterValue` only name the filter in the failure text.
    CYbError _ListLunsBy(const std::string& command, const std::string& arguments, const std::string& filterKind,
                         const std::string& filterValue, std::vector<LunInfo>& luns);

    std::string m_strClientName;
    std::string m_strProcessName;
    ULONG m_ulInitParam;
    boost::shared_ptr<CNSession::LaunchOnDemandServiceReq> m_ptrLaunchReq;
    boost::shared_ptr<CNSession::LaunchOnDemandServiceDetails> m_ptrLaunchDetails;
    boost::shared_ptr<ZOOnDemandSvcClient> m_ptrOnDemandClient;
    boost::shared_ptr<CZoNetwork> m_ptrNetwork;
    bool m_bConnected;
};
