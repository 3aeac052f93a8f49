#include "ClientOperations.h"
#include "ClientSupport.h"

#include "CZoNetwork.h"
#include "FXErrorUtil.h"

using namespace ZoScsiSrvClientInternal;
using namespace ZoScsiServer::Wire;

namespace {

constexpr int kSendTimeLimit = 300;
constexpr int kReceiveTimeLimit = -1;

// Reads the status object of a received response into `reply`. A response
// without it, or whose status fields hold another kind of value, is refused
// rather than read as the defined zero of an absent field, which would pass
// for success.
CYbError ReadStatus(const Operation& operation, Reply& reply) {
    const Message& message = operation.message;
    auto statusObject = [&]() {
        return reply.message ? reply.message->getObjectAccessor(true, false, message.statusFirst,
                                                                message.statusSecond, message.responseType,
                                                                kStatusKey, kGroup, kStatusId)
                             : nullptr;
    };
    CNMessageBase* status = statusObject();
    if (!status)
        return FXErrorUtil::ErrorWin32(ZO_CLIENT_HERE(operation.function), kInvalidData,
                                       "Malformed %s: no status object", operation.responseName);

    const CNField* number = status->FindField(kStatusType, kStatusErrorNumber.key);
    const CNField* text = status->FindField(kStatusType, kStatusErrorText.key);
    if (!number || number->kind != CNFieldKind::Int64 || (text && text->kind != CNFieldKind::String))
        return FXErrorUtil::ErrorWin32(ZO_CLIENT_HERE(operation.function), kInvalidData,
                                       "Malformed %s: status field of wrong kind", operation.responseName);

    reply.errorNumber = Low32(status->getint64(kStatusErrorNumber.first, kStatusType, kStatusErrorNumber.key));
    if (reply.errorNumber != 0)
        reply.errorText = statusObject()->getstring(kStatusErrorText.first, kStatusErrorText.second, kStatusType,
                                                    kStatusErrorText.key);
    return CYbError::Success();
}

}  // namespace

CYbError ZoScsiSrvClient::Exchange(const Operation& operation, CNMessageBase& request, Reply& reply) {
    // The error test comes before the flag: a send that failed and also
    // timed out is reported as failed, with the connection's own code.
    const FXCodeLocation sendStep = ZO_CLIENT_HERE(operation.function);
    bool sendTimedOut = false;
    CYbError error = m_ptrNetwork->SendXMLMessage(request, 0, kSendTimeLimit, sendTimedOut);
    if (error.IsError()) return error.Push(sendStep, "Failed to send %s request", operation.requestName);
    if (sendTimedOut)
        return FXErrorUtil::ErrorWin32(sendStep, kTimedOut, "Failed to send %s request. TimedOut",
                                       operation.requestName);

    const FXCodeLocation receiveStep = ZO_CLIENT_HERE(operation.function);
    unsigned long outValue = 0;
    CNMessageBase* received = nullptr;
    bool receiveTimedOut = false;
    error = m_ptrNetwork->ReceiveXMLMessage(&outValue, received, nullptr, 0, kReceiveTimeLimit, receiveTimedOut);
    reply.message.reset(received);
    if (error.IsError()) return error.Push(receiveStep, "Failed to receive %s.", operation.responseName);
    if (receiveTimedOut)
        return FXErrorUtil::ErrorWin32(receiveStep, kTimedOut, "Failed to receive %s. TimedOut",
                                       operation.responseName);

    return ReadStatus(operation, reply);
}
