// Frames: a 4-byte big-endian payload length, then the payload. Pure
// functions over bytes, no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zo {

constexpr size_t kFrameHeaderBytes = 4;

enum class FrameStatus { Complete, Incomplete, Error };

struct FrameView {
    const char* payload = nullptr;
    size_t payloadSize = 0;
    size_t consumed = 0;  // header + payload
};

// Looks for one frame at the start of [data, data+size). Incomplete when more
// bytes are needed; Error (with `error`) for a zero length or one above
// maxPayload, which no later bytes can mend.
FrameStatus ParseFrame(const char* data, size_t size, size_t maxPayload, FrameView& frame,
                       std::string& error);

// The payload length announced by a complete header.
uint32_t FrameLength(const char* header);

// Appends header and payload to `out`. `size` must fit the 32-bit length
// (callers keep payloads within DecodeLimits::maxFrameBytes).
void AppendFrame(std::string& out, const char* payload, size_t size);

}  // namespace zo
