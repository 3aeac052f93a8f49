#include "SessionMessages.h"

#include "CNSession.h"

namespace zo {

namespace W = CNSession::Wire;

namespace {

void SetStatus(CNMessageBase& message, unsigned long typeKey, unsigned int fieldKey, long long number,
               const std::string& text) {
    CNMessageBase* status = message.getObjectAccessor(true, true, 2, 2, typeKey, fieldKey, W::kGroup, W::kStatusId);
    status->setint64(1, 1, number, W::kStatusType, W::kStatusErrorNumber);
    status->setstring(2, 2, text, W::kStatusType, W::kStatusErrorText);
}

}  // namespace

bool IsMessageType(const CNMessageBase& message, int group, int id) {
    return message.Group() == group && message.Id() == id;
}

void FillValidateRequest(CNMessageBase& request, const std::string& sessionId) {
    request.setstring(1, 1, sessionId, W::kValidateReqType, W::kValidateReqSessionId);
}

const std::string& ValidateRequestSession(const CNMessageBase& request) {
    return request.getstringByRef(1, 1, W::kValidateReqType, W::kValidateReqSessionId);
}

std::unique_ptr<CNMessageBase> MakeValidateResponse(long long number, const std::string& text) {
    auto response = std::make_unique<CNSession::ValidateODSSessionResp>();
    SetStatus(*response, W::kValidateRespType, W::kValidateRespStatus, number, text);
    return response;
}

std::unique_ptr<CNMessageBase> MakeProtocolError(long long number, const std::string& text) {
    auto message = std::make_unique<CNMessageBase>(W::kGroup, W::kProtocolErrorId);
    SetStatus(*message, W::kProtocolErrorType, W::kProtocolErrorStatus, number, text);
    return message;
}

bool ReadSessionStatus(const CNMessageBase& message, long long& number, std::string& text) {
    const CNField* field = nullptr;
    if (IsMessageType(message, W::kGroup, W::kValidateRespId))
        field = message.FindField(W::kValidateRespType, W::kValidateRespStatus);
    else if (IsMessageType(message, W::kGroup, W::kProtocolErrorId))
        field = message.FindField(W::kProtocolErrorType, W::kProtocolErrorStatus);
    if (!field || field->kind != CNFieldKind::Object || !field->object) return false;
    // A status without its number must not read as 0 (accepted).
    const CNField* numberField = field->object->FindField(W::kStatusType, W::kStatusErrorNumber);
    if (!numberField || numberField->kind != CNFieldKind::Int64) return false;
    number = numberField->i64;
    text = field->object->getstring(2, 2, W::kStatusType, W::kStatusErrorText);
    return true;
}

}  // namespace zo
