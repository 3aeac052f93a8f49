#include "ClientOperations.h"
#include "ClientSupport.h"

#include "FXErrorUtil.h"

#include <boost/lexical_cast.hpp>

using namespace ZoScsiSrvClientInternal;

namespace {

// The fields of a ZoScsiServer::CreateLun message after its header: the
// lower-cased target, the setting, and the option object with its text.
void WriteCreateLunFields(CNMessageBase& message, unsigned long typeKey, const std::string& targetName,
                          uint32_t lunSetting, const std::string& optionText) {
    SetString(message, typeKey, W::kCreateLunTarget, LowerCase(targetName));
    SetInt64(message, typeKey, W::kCreateLunSetting, lunSetting);
    CNMessageBase* options = message.getObjectAccessor(true, true, W::kCreateLunOptions.first, W::kCreateLunOptions.second,
                                                       typeKey, W::kCreateLunOptions.key, W::kGroup, W::kOptionId);
    SetString(*options, W::kOptionType, W::kOptionText, optionText);
}

// The fields of a ZoScsiServer::DeleteLun message after its header.
void WriteDeleteLunFields(CNMessageBase& message, unsigned long typeKey, const std::string& targetName,
                          int32_t lunId) {
    SetString(message, typeKey, W::kDeleteLunTarget, LowerCase(targetName));
    SetInt64(message, typeKey, W::kDeleteLunId, lunId);
}

// The LUN id and name of a CreateLun response (absent fields read as 0 and "").
int32_t ResponseLunId(const Reply& reply, const Operation& op) {
    return Low32(reply.message->getint64(W::kCreateLunId.first, op.message.responseType, W::kCreateLunId.key));
}

std::string ResponseLunName(const Reply& reply, const Operation& op) {
    return reply.message->getstring(W::kCreateLunName.first, W::kCreateLunName.second, op.message.responseType,
                                    W::kCreateLunName.key);
}

// The whole of CloseLun and DeleteLun. They send equal messages; what tells
// them apart is the header the caller supplies, whose flags the close writes
// to the log (`logsFlags`) before the rest of the message is written.
template <class Request, class ExchangeStep>
CYbError RunLunRemoval(const Operation& op, const Request& request, bool logsFlags, ExchangeStep exchange) {
    const auto tracer = StartTracer(op.function, __LINE__);
    ZoScsiServer::DeleteLun message;
    WriteHeader(message, op.message.requestType, request.header);
    if (logsFlags)
        ZO_CLIENT_LOG(0, op.function, "Delete LUN Op Ctx Flags: [%lld]",
                      HeaderObject(message, op.message.requestType, false)
                          ->getint64(W::kHeaderOpCtxFlags.first, W::kHeaderType, W::kHeaderOpCtxFlags.key));
    WriteDeleteLunFields(message, op.message.requestType, request.targetName, request.lunId);

    Reply reply;
    CYbError error = exchange(op, message, reply);
    if (error.IsError()) return error;
    if (reply.errorNumber != 0)
        return Refused(reply, FXErrorUtil::ErrorWin32(ZO_CLIENT_HERE(op.function), kServiceFailure, op.failure,
                                                      request.lunId, request.targetName.c_str(), reply.errorNumber,
                                                      reply.errorText.c_str()));
    ZO_CLIENT_LOG(1, op.function, op.success, request.lunId, request.targetName.c_str());
    return CYbError::Success();
}

}  // namespace

CYbError ZoScsiSrvClient::CreateLun(ZoScsiSrvClientRequest::CreateLunRequest& request, std::string& lunName,
                                    int32_t& createdLunId) {
    const Operation& op = kCreateLun;
    const auto tracer = StartTracer(op.function, __LINE__);
    lunName.clear();
    createdLunId = -1;
    ZoScsiServer::CreateLun message;
    WriteHeader(message, op.message.requestType, request.header);
    WriteCreateLunFields(message, op.message.requestType, request.targetName, request.lunSetting, request.options);

    Reply reply;
    CYbError error = Exchange(op, message, reply);
    if (error.IsError()) return error;
    if (reply.errorNumber != 0)
        return Refused(reply, FXErrorUtil::ErrorWin32(ZO_CLIENT_HERE(op.function), kServiceFailure, op.failure,
                                                      request.targetName.c_str(), reply.errorNumber,
                                                      reply.errorText.c_str()));
    createdLunId = ResponseLunId(reply, op);
    lunName = ResponseLunName(reply, op);
    ZO_CLIENT_LOG(1, op.function, op.success, createdLunId, request.targetName.c_str());
    return CYbError::Success();
}

CYbError ZoScsiSrvClient::OpenLun(const ZoScsiSrvClientRequest::OpenLunRequest& request, std::string& lunName) {
    const Operation& op = kOpenLun;
    const auto tracer = StartTracer(op.function, __LINE__);
    lunName.clear();
    ZoScsiServer::CreateLun message;
    WriteHeader(message, op.message.requestType, request.header);
    WriteCreateLunFields(message, op.message.requestType, request.targetName, request.lunSetting,
                         " -li " + boost::lexical_cast<std::string>(request.lunId));

    Reply reply;
    CYbError error = Exchange(op, message, reply);
    if (error.IsError()) return error;
    if (reply.errorNumber != 0)
        return Refused(reply, FXErrorUtil::ErrorWin32(ZO_CLIENT_HERE(op.function), kServiceFailure, op.failure,
                                                      request.lunId, request.targetName.c_str(), reply.errorNumber,
                                                      reply.errorText.c_str()));
    lunName = ResponseLunName(reply, op);
    ZO_CLIENT_LOG(1, op.function, op.success, ResponseLunId(reply, op), request.targetName.c_str());
    return CYbError::Success();
}

CYbError ZoScsiSrvClient::CloseLun(const ZoScsiSrvClientRequest::CloseLunRequest& request) {
    return RunLunRemoval(kCloseLun, request, true,
                         [this](const Operation& op, CNMessageBase& m, Reply& r) { return Exchange(op, m, r); });
}

CYbError ZoScsiSrvClient::DeleteLun(const ZoScsiSrvClientRequest::DeleteLunRequest& request) {
    return RunLunRemoval(kDeleteLun, request, false,
                         [this](const Operation& op, CNMessageBase& m, Reply& r) { return Exchange(op, m, r); });
}
