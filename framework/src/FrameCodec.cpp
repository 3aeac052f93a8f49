#include "zo/FrameCodec.h"

namespace zo {

uint32_t FrameLength(const char* header) {
    const auto* b = reinterpret_cast<const unsigned char*>(header);
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | uint32_t(b[3]);
}

FrameStatus ParseFrame(const char* data, size_t size, size_t maxPayload, FrameView& frame, std::string& error) {
    if (size < kFrameHeaderBytes) return FrameStatus::Incomplete;
    const uint32_t length = FrameLength(data);
    if (length == 0) {
        error = "frame with zero length";
        return FrameStatus::Error;
    }
    if (length > maxPayload) {
        error = "frame of " + std::to_string(length) + " bytes exceeds the limit of " + std::to_string(maxPayload) +
                " bytes";
        return FrameStatus::Error;
    }
    if (size - kFrameHeaderBytes < length) return FrameStatus::Incomplete;
    frame.payload = data + kFrameHeaderBytes;
    frame.payloadSize = length;
    frame.consumed = kFrameHeaderBytes + length;
    return FrameStatus::Complete;
}

void AppendFrame(std::string& out, const char* payload, size_t size) {
    const auto length = static_cast<uint32_t>(size);
    const char header[kFrameHeaderBytes] = {static_cast<char>(length >> 24), static_cast<char>(length >> 16),
                                            static_cast<char>(length >> 8), static_cast<char>(length)};
    out.reserve(out.size() + kFrameHeaderBytes + size);
    out.append(header, kFrameHeaderBytes);
    out.append(payload, size);
}

}  // namespace zo
