#include "ClientOperations.h"
#include "ClientSupport.h"

#include "FXErrorUtil.h"

using namespace ZoScsiSrvClientInternal;

namespace {

// MapLun2Host and UnMapLun2Host carry the same fields, in this order.
void WriteMappingFields(CNMessageBase& message, unsigned long typeKey,
                        const ZoScsiSrvClientRequest::MapHostRequest& request) {
    WriteHeader(message, typeKey, request.header);
    SetString(message, typeKey, W::kMapTarget, LowerCase(request.targetName));
    SetInt64(message, typeKey, W::kMapLunId, request.lunId);
    SetString(message, typeKey, W::kMapHost, request.hostName);
}

}  // namespace

CYbError ZoScsiSrvClient::MapHost(const ZoScsiSrvClientRequest::MapHostRequest& request) {
    const Operation& op = kMapHost;
    const auto tracer = StartTracer(op.function, __LINE__);
    ZoScsiServer::MapLun2Host message;
    WriteMappingFields(message, op.message.requestType, request);

    Reply reply;
    CYbError error = Exchange(op, message, reply);
    if (error.IsError()) return error;
    if (reply.errorNumber != 0)
        return FXErrorUtil::ErrorWin32(ZO_CLIENT_HERE(op.function), kServiceFailure, op.failure, request.lunId,
                                       request.hostName.c_str(), request.targetName.c_str(), reply.errorNumber,
                                       reply.errorText.c_str());
    ZO_CLIENT_LOG(1, op.function, op.success, request.lunId, request.hostName.c_str(), request.targetName.c_str());
    return CYbError::Success();
}

CYbError ZoScsiSrvClient::UnmapHost(const UnmapHostRequest& request) {
    const Operation& op = kUnmapHost;
    const auto tracer = StartTracer(op.function, __LINE__);
    ZoScsiServer::UnMapLun2Host message;
    WriteMappingFields(message, op.message.requestType, request);

    Reply reply;
    CYbError error = Exchange(op, message, reply);
    if (error.IsError()) return error;
    if (reply.errorNumber != 0)
        return FXErrorUtil::ErrorWin32(ZO_CLIENT_HERE(op.function), kServiceFailure, op.failure, request.lunId,
                                       request.hostName.c_str(), request.targetName.c_str(), reply.errorNumber,
                                       reply.errorText.c_str());
    ZO_CLIENT_LOG(1, op.function, op.success, request.lunId, request.hostName.c_str(), request.targetName.c_str());
    return CYbError::Success();
}

// Both inner requests carry the library's header, not the caller's. A failed
// map leaves the unmap in effect: nothing is undone.
CYbError ZoScsiSrvClient::RemapLun2Host(const ZoScsiSrvClientRequest::RemapHostRequest& request) {
    const Composite& op = kRemapLun2Host;
    const auto tracer = StartTracer(op.function, __LINE__);
    CYbError error = UnmapHost(UnmapHostRequest(request.lunId, request.targetName, request.fromHostName, LibraryHeader()));
    if (error.IsError()) return error.Push(ZO_CLIENT_HERE(op.function), "Failed unmap lun from host");

    error = MapHost(ZoScsiSrvClientRequest::MapHostRequest(request.lunId, request.targetName, request.toHostName,
                                                           LibraryHeader()));
    if (error.IsError()) return error.Push(ZO_CLIENT_HERE(op.function), "Failed map lun to host");

    ZO_CLIENT_LOG(1, op.function, "Remapped lun [%d] from host [%s] to host [%s] & target [%s]", request.lunId,
                  request.fromHostName.c_str(), request.toHostName.c_str(), request.targetName.c_str());
    return CYbError::Success();
}
