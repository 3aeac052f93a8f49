// The body of the operations that send the service a command word in an
// Ioctl message: the configuration reload and the two raw listings.
#pragma once

#include "ClientOperations.h"
#include "ClientSupport.h"

#include "FXErrorUtil.h"

#include <string>

namespace ZoScsiSrvClientInternal {

// Sends `command` (and `arguments`, when given) under the operation's tracer.
// Returns the exchange's failure, or the operation's failure text when the
// service answers a non-zero error number; otherwise success, with the
// answer in `reply`.
template <class ExchangeStep>
CYbError RunCommand(const Operation& op, const std::string& command, const std::string* arguments, Reply& reply,
                    ExchangeStep exchange) {
    const auto tracer = StartTracer(op.function, __LINE__);
    ZoScsiServer::Ioctl message;
    WriteHeader(message, op.message.requestType, LibraryHeader());
    SetString(message, op.message.requestType, W::kIoctlCommand, command);
    if (arguments) SetString(message, op.message.requestType, W::kIoctlArguments, *arguments);
    CYbError error = exchange(op, message, reply);
    if (error.IsError()) return error;
    if (reply.errorNumber != 0)
        return Refused(reply, FXErrorUtil::ErrorWin32(ZO_CLIENT_HERE(op.function), kServiceFailure, "%s", op.failure));
    return CYbError::Success();
}

}  // namespace ZoScsiSrvClientInternal
