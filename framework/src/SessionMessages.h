// Building and reading the session messages of group 9 that the launcher and
// the listener exchange: the validation request and response and the
// protocol-error answer, each carrying a status object (number and text).
#pragma once

#include "CNMessageBase.h"

#include <memory>
#include <string>

namespace zo {

// Status numbers a listener answers with besides 0 (errno values, so they
// read the same in both directions).
constexpr long long kSessionRefused = 13;   // EACCES: no or a wrong session identifier
constexpr long long kProtocolError = 71;    // EPROTO: a frame that cannot be decoded
constexpr long long kHandlerFailed = 5;     // EIO: the service had no answer
constexpr long long kServiceBusy = 16;      // EBUSY: every slot for validated connections is taken

bool IsMessageType(const CNMessageBase& message, int group, int id);

void FillValidateRequest(CNMessageBase& request, const std::string& sessionId);
// The session identifier of a validation request ("" when absent).
const std::string& ValidateRequestSession(const CNMessageBase& request);

std::unique_ptr<CNMessageBase> MakeValidateResponse(long long number, const std::string& text);
std::unique_ptr<CNMessageBase> MakeProtocolError(long long number, const std::string& text);

// The status of a validation response or a protocol-error message. False
// when `message` is neither or carries no status object with a number.
bool ReadSessionStatus(const CNMessageBase& message, long long& number, std::string& text);

}  // namespace zo
