// One message as one frame: the encoding shared by the connection, the
// listener and the in-process peer.
#pragma once

#include "CNMessageBase.h"

#include <string>

namespace zo {

// Replaces the content of `out` (keeping its storage) with the frame of
// `message`. False, with the reason, when the payload exceeds maxPayload.
bool EncodeFrame(const CNMessageBase& message, size_t maxPayload, std::string& out, std::string& error);

}  // namespace zo
