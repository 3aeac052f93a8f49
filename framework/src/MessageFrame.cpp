#include "MessageFrame.h"

#include "zo/FrameCodec.h"
#include "zo/XmlCodec.h"

namespace zo {

bool EncodeFrame(const CNMessageBase& message, size_t maxPayload, std::string& out, std::string& error) {
    // The XML is written straight after a placeholder header, which is then
    // filled in: one buffer, no copy of the payload.
    out.assign(kFrameHeaderBytes, '\0');
    EncodeMessage(message, out);
    const size_t payload = out.size() - kFrameHeaderBytes;
    if (payload > maxPayload || payload > UINT32_MAX) {
        error = "message of " + std::to_string(payload) + " bytes exceeds the frame limit of " +
                std::to_string(maxPayload) + " bytes";
        out.clear();
        return false;
    }
    const auto length = static_cast<uint32_t>(payload);
    out[0] = static_cast<char>(length >> 24);
    out[1] = static_cast<char>(length >> 16);
    out[2] = static_cast<char>(length >> 8);
    out[3] = static_cast<char>(length);
    return true;
}

}  // namespace zo
