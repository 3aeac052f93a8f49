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

// The whole of MapHost and UnmapHost: the two differ only in their row of the
// operation table and their message class.
template <class Message, class ExchangeStep>
CYbError RunMapping(const Operation& op, const ZoScsiSrvClientRequest::MapHostRequest& request,
                    ExchangeStep exchange) {
    const auto tracer = StartTracer(op.function, __LINE__);
    Message message;
    WriteMappingFields(message, op.message.requestType, request);

    Reply reply;
    CYbError error = exchange(op, message, reply);
    if (error.IsError()) return error;
    if (reply.errorNumber != 0)
        return Refused(reply, FXErrorUtil::ErrorWin32(ZO_CLIENT_HERE(op.function), kServiceFailure, op.failure,
                                                      request.lunId, request.hostName.c_str(),
                                                      request.targetName.c_str(), reply.errorNumber,
                                                      reply.errorText.c_str()));
    ZO_CLIENT_LOG(1, op.function, op.success, request.lunId, request.hostName.c_str(), request.targetName.c_str());
    return CYbError::Success();
}

}  // namespace

CYbError ZoScsiSrvClient::MapHost(const ZoScsiSrvClientRequest::MapHostRequest& request) {
    return RunMapping<ZoScsiServer::MapLun2Host>(
        kMapHost, request, [this](const Operation& op, CNMessageBase& m, Reply& r) { return Exchange(op, m, r); });
}

CYbError ZoScsiSrvClient::UnmapHost(const UnmapHostRequest& request) {
    return RunMapping<ZoScsiServer::UnMapLun2Host>(
        kUnmapHost, request, [this](const Operation& op, CNMessageBase& m, Reply& r) { return Exchange(op, m, r); });
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
