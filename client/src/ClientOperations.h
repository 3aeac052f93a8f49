// The table of the client's service operations: for each, the function
// string that names it in its tracer, log lines and error locations, the
// request and response names of the exchange's failure texts, its service
// message, and the texts of its failure and success. Adding an operation is
// one row here and a few lines that build its message and read its result.
#pragma once

#include "CNMessageBase.h"
#include "CYbError.h"
#include "ZoScsiServer.h"

#include <cstdint>
#include <memory>
#include <string>

namespace ZoScsiSrvClientInternal {

struct Operation {
    const char* function;
    const char* requestName;
    const char* responseName;
    ZoScsiServer::Wire::Message message;
    // The error text of a non-zero service error number. When it ends in
    // "errNum=%d, errString=%s", it is filled with the number and the
    // service's error text; either way the error carries both as its peer
    // status (ZoScsiSrvClient::GetServiceError).
    const char* failure;
    // Level-1 line on success, or null.
    const char* success;
    // The function string of the per-line log writer of a listing, or null.
    const char* lineWriter;
};

// What the exchange hands back: the response (owned, released with the
// Reply) and its status.
struct Reply {
    std::unique_ptr<CNMessageBase> message;
    int32_t errorNumber = 0;
    std::string errorText;  // read only for a non-zero number
};

// `error`, made for a non-zero service error number, with the service's
// number and text attached for ZoScsiSrvClient::GetServiceError.
inline CYbError Refused(const Reply& reply, CYbError error) {
    return error.SetPeerStatus(reply.errorNumber, reply.errorText);
}

namespace W = ZoScsiServer::Wire;

constexpr Operation kStartScsiService{
    "CYbError ZoScsiSrvClient::StartScsiService(const ZoScsiSrvClientRequest::StartServiceRequest&)",
    "StartService", "StartServiceRsp", W::kStartScsiService,
    "Failed to start SCSI service, errNum=%d, errString=%s", "Started SCSI Service!!!", nullptr};

constexpr Operation kReloadConfiguration{
    "CYbError ZoScsiSrvClient::ReloadConfiguration(const string&)",
    "ReloadConfiguration", "ReloadConfigurationRsp", W::kIoctl,
    "Failed to reload iSCSI service configuration.", nullptr, nullptr};

constexpr Operation kAddTarget{
    "CYbError ZoScsiSrvClient::AddTarget(const ZoScsiSrvClientRequest::CreateTargetRequest&)",
    "AddTarget", "AddTargetResp", W::kCreateTarget,
    "Failed to add target %s, errNum=%d, errString=%s", "Created Target [%s]", nullptr};

constexpr Operation kDeleteTarget{
    "CYbError ZoScsiSrvClient::DeleteTarget(const ZoScsiSrvClientRequest::DeleteTargetRequest&)",
    "DeleteTarget", "DeleteTargetResp", W::kDeleteTarget,
    "Failed to delete target %s, errNum=%d, errString=%s", "Deleted Target [%s]", nullptr};

constexpr Operation kCreateLun{
    "CYbError ZoScsiSrvClient::CreateLun(ZoScsiSrvClientRequest::CreateLunRequest&, std::string&, int32_t&)",
    "CreateLun", "CreateLunRsp", W::kCreateLun,
    "Failed to create lun for target %s, errNum=%d, errString=%s", "Created Lun ID: [%d] for target [%s]",
    nullptr};

constexpr Operation kOpenLun{
    "CYbError ZoScsiSrvClient::OpenLun(const ZoScsiSrvClientRequest::OpenLunRequest&, std::string&)",
    "OpenLun", "OpenLunRsp", W::kCreateLun,
    "Failed to open lun [%d] target %s, errNum=%d, errString=%s", "Opened Lun ID: [%d] for target [%s]",
    nullptr};

constexpr Operation kCloseLun{
    "CYbError ZoScsiSrvClient::CloseLun(const ZoScsiSrvClientRequest::CloseLunRequest&)",
    "CloseLun", "CloselunRsp", W::kDeleteLun,
    "Failed to close lun=%d, target=%s, errNum=%d, errString=%s", "Closed Lun ID: [%d] for target [%s]",
    nullptr};

constexpr Operation kDeleteLun{
    "CYbError ZoScsiSrvClient::DeleteLun(const ZoScsiSrvClientRequest::DeleteLunRequest&)",
    "DeleteLun", "DeleteLunRsp", W::kDeleteLun,
    "Failed to delete lun=%d, target=%s, errNum=%d, errString=%s", "Deleted Lun ID: [%d] for target [%s]",
    nullptr};

constexpr Operation kMapHost{
    "CYbError ZoScsiSrvClient::MapHost(const ZoScsiSrvClientRequest::MapHostRequest&)",
    "MapLun2Host", "MapLun2HostRsp", W::kMapLun2Host,
    "Failed maplun2host lun=%d, host=%s, target=%s, errNum=%d, errString=%s",
    "Mapped Lun2Host, lun [%d] host [%s] target [%s]", nullptr};

constexpr Operation kUnmapHost{
    "CYbError ZoScsiSrvClient::UnmapHost(const UnmapHostRequest&)",
    "UnMapLun2Host", "UnMapLun2HostRsp", W::kUnMapLun2Host,
    "Failed to unmap lun %d from host %s, target %s, errNum=%d, errString=%s",
    "Unmapped lun [%d] from host [%s] & target [%s]", nullptr};

constexpr Operation kListLuns{
    "CYbError ZoScsiSrvClient::ListLuns(const string&, const string&, "
    "std::vector<std::__cxx11::basic_string<char> >&)",
    "ListLuns", "ListLunsRsp", W::kIoctl, "Failed to get lun list ", nullptr,
    "ZoScsiSrvClient::ListLuns(const string&, const string&, "
    "std::vector<std::__cxx11::basic_string<char> >&)::<lambda(const string&)>"};

constexpr Operation kListTargets{
    "CYbError ZoScsiSrvClient::ListTargets(const string&, std::vector<std::__cxx11::basic_string<char> >&)",
    "ListTargets", "ListTargetsRsp", W::kIoctl, "Failed to get lun list ", nullptr,
    "ZoScsiSrvClient::ListTargets(const string&, std::vector<std::__cxx11::basic_string<char> >&)"
    "::<lambda(const string&)>"};

// Operations that run other operations instead of an exchange of their own.

struct Composite {
    const char* function;
    const char* recordWriter;  // per-record log writer of a parsed listing, or null
};

constexpr Composite kRemapLun2Host{
    "CYbError ZoScsiSrvClient::RemapLun2Host(const ZoScsiSrvClientRequest::RemapHostRequest&)", nullptr};

constexpr Composite kListAllLuns{
    "CYbError ZoScsiSrvClient::ListLuns(std::vector<ZoScsiSrvClient::LunInfo>&, const string&, const string&)",
    "ZoScsiSrvClient::ListLuns(std::vector<ZoScsiSrvClient::LunInfo>&, const string&, const string&)"
    "::<lambda(const LunInfo_t&)>"};

constexpr Composite kListLunsByTarget{
    "CYbError ZoScsiSrvClient::ListLunsByTarget(const string&, std::vector<ZoScsiSrvClient::LunInfo>&)", nullptr};

constexpr Composite kListLunsByHost{
    "CYbError ZoScsiSrvClient::ListLunsByHost(const string&, std::vector<ZoScsiSrvClient::LunInfo>&)", nullptr};

constexpr Composite kListLunsBy{
    "CYbError ZoScsiSrvClient::_ListLunsBy(const string&, const string&, const string&, const string&, "
    "std::vector<ZoScsiSrvClient::LunInfo>&)",
    "ZoScsiSrvClient::_ListLunsBy(const string&, const string&, const string&, const string&, "
    "std::vector<ZoScsiSrvClient::LunInfo>&)::<lambda(const auto:1&)> [with auto:1 = ZoScsiSrvClient::LunInfo]"};

}  // namespace ZoScsiSrvClientInternal
