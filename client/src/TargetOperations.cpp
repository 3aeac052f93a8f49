#include "ClientOperations.h"
#include "ClientSupport.h"

#include "FXErrorUtil.h"

using namespace ZoScsiSrvClientInternal;

// Logs and errors quote the target name as the caller wrote it; only the
// wire carries it lower-cased.
CYbError ZoScsiSrvClient::AddTarget(const ZoScsiSrvClientRequest::CreateTargetRequest& request) {
    const Operation& op = kAddTarget;
    const auto tracer = StartTracer(op.function, __LINE__);
    ZoScsiServer::CreateTarget message;
    WriteHeader(message, op.message.requestType, request.header);
    SetString(message, op.message.requestType, W::kTargetName, LowerCase(request.targetName));
    if (!request.targetParams.empty())
        SetString(message, op.message.requestType, W::kTargetParams, request.targetParams);

    Reply reply;
    CYbError error = Exchange(op, message, reply);
    if (error.IsError()) return error;
    if (reply.errorNumber != 0) {
        // The service's "already exists" gets the host's code for it, so a
        // caller can tell it from other refusals.
        const unsigned int code = reply.errorNumber == ZoScsiServer::kErrAlreadyExists ? kAlreadyExists
                                                                                        : kServiceFailure;
        return Refused(reply, FXErrorUtil::ErrorWin32(ZO_CLIENT_HERE(op.function), code, op.failure,
                                                      request.targetName.c_str(), reply.errorNumber,
                                                      reply.errorText.c_str()));
    }
    ZO_CLIENT_LOG(1, op.function, op.success, request.targetName.c_str());
    return CYbError::Success();
}

CYbError ZoScsiSrvClient::DeleteTarget(const ZoScsiSrvClientRequest::DeleteTargetRequest& request) {
    const Operation& op = kDeleteTarget;
    const auto tracer = StartTracer(op.function, __LINE__);
    ZoScsiServer::DeleteTarget message;
    WriteHeader(message, op.message.requestType, request.header);
    SetString(message, op.message.requestType, W::kTargetName, LowerCase(request.targetName));

    Reply reply;
    CYbError error = Exchange(op, message, reply);
    if (error.IsError()) return error;
    if (reply.errorNumber != 0)
        return Refused(reply, FXErrorUtil::ErrorWin32(ZO_CLIENT_HERE(op.function), kServiceFailure, op.failure,
                                                      request.targetName.c_str(), reply.errorNumber,
                                                      reply.errorText.c_str()));
    ZO_CLIENT_LOG(1, op.function, op.success, request.targetName.c_str());
    return CYbError::Success();
}
