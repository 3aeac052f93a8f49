// MessageCodec: requests decoded and answers encoded from a MessageSchema.
#pragma once

#include "CNMessageBase.h"
#include "protocol/ServiceMessages.h"

#include <memory>

namespace zoscsi {

// Fills `request` from the fields that `schema` binds. A required field that
// is absent, or any field of the wrong kind, is refused (kErrInvalidArgument,
// naming the field). Never throws for bad input.
ServiceStatus DecodeRequest(const CNMessageBase& message, const MessageSchema& schema, ServiceRequest& request);

// The answer message: the status object (error number and text) at the
// schema's status pair and, on success, the schema's reply fields. `reply`
// is moved from (its lines in particular).
std::unique_ptr<CNMessageBase> EncodeReply(const MessageSchema& schema, ServiceReply&& reply);

}  // namespace zoscsi
