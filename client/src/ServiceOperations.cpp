#include "ClientOperations.h"
#include "ClientSupport.h"
#include "CommandExchange.h"

#include "FXErrorUtil.h"

using namespace ZoScsiSrvClientInternal;

// Unlike every other operation that runs the exchange, the start makes no tracer.
CYbError ZoScsiSrvClient::StartScsiService(const ZoScsiSrvClientRequest::StartServiceRequest& request) {
    const Operation& op = kStartScsiService;
    ZoScsiServer::StartScsiService message;
    WriteHeader(message, op.message.requestType, request.header);

    Reply reply;
    CYbError error = Exchange(op, message, reply);
    if (error.IsError()) return error;
    if (reply.errorNumber != 0)
        return Refused(reply, FXErrorUtil::ErrorWin32(ZO_CLIENT_HERE(op.function), kServiceFailure, op.failure,
                                                      reply.errorNumber, reply.errorText.c_str()));
    ZO_CLIENT_LOG(1, op.function, op.success);
    return CYbError::Success();
}

CYbError ZoScsiSrvClient::ReloadConfiguration(const std::string& command) {
    Reply reply;
    return RunCommand(kReloadConfiguration, command, nullptr, reply,
                      [this](const Operation& o, CNMessageBase& m, Reply& r) { return Exchange(o, m, r); });
}
