// zo::ParseFrame over arbitrary bytes. The first two bytes choose the payload
// limit (so the limit itself is fuzzed); the rest is the stream. Checked:
// the outcome agrees with the header, a complete frame lies inside the input,
// every proper prefix of it is incomplete, and AppendFrame gives back a frame
// that parses to the same payload.
#include "FuzzSupport.h"
#include "zo/FrameCodec.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

using zo::FrameStatus;
using zo::kFrameHeaderBytes;

FrameStatus Parse(const char* data, size_t size, size_t limit, zo::FrameView& view, std::string& error) {
    error.clear();
    const FrameStatus status = zo::ParseFrame(data, size, limit, view, error);
    if (status == FrameStatus::Error) ZO_FUZZ_CHECK(!error.empty());
    return status;
}

void CheckPrefixes(const char* data, size_t consumed, size_t limit) {
    zo::FrameView view;
    std::string error;
    const size_t probes[] = {0, 1, kFrameHeaderBytes - 1, kFrameHeaderBytes, consumed / 2, consumed - 1};
    for (size_t prefix : probes)
        if (prefix < consumed) ZO_FUZZ_CHECK(Parse(data, prefix, limit, view, error) == FrameStatus::Incomplete);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zofuzz::Silence();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size < 2) return 0;
    // Limits from 0 up to 64 KiB, and "no limit" for 0xFFFF.
    const unsigned chosen = (unsigned(bytes[0]) << 8) | bytes[1];
    const size_t limit = chosen == 0xFFFF ? SIZE_MAX : chosen;
    const char* data = reinterpret_cast<const char*>(bytes + 2);
    size -= 2;

    zo::FrameView view;
    std::string error;
    const FrameStatus status = Parse(data, size, limit, view, error);
    if (size < kFrameHeaderBytes) {
        ZO_FUZZ_CHECK(status == FrameStatus::Incomplete);
        return 0;
    }
    const uint32_t length = zo::FrameLength(data);
    const bool acceptable = length != 0 && length <= limit;
    switch (status) {
        case FrameStatus::Error:
            ZO_FUZZ_CHECK(!acceptable);
            return 0;
        case FrameStatus::Incomplete:
            ZO_FUZZ_CHECK(acceptable && size - kFrameHeaderBytes < length);
            return 0;
        case FrameStatus::Complete:
            break;
    }
    ZO_FUZZ_CHECK(acceptable);
    ZO_FUZZ_CHECK(view.payload == data + kFrameHeaderBytes);
    ZO_FUZZ_CHECK(view.payloadSize == length);
    ZO_FUZZ_CHECK(view.consumed == kFrameHeaderBytes + length && view.consumed <= size);
    CheckPrefixes(data, view.consumed, limit);

    std::string again;
    zo::AppendFrame(again, view.payload, view.payloadSize);
    zo::FrameView second;
    ZO_FUZZ_CHECK(Parse(again.data(), again.size(), limit, second, error) == FrameStatus::Complete);
    ZO_FUZZ_CHECK(second.consumed == again.size());
    ZO_FUZZ_CHECK(std::memcmp(again.data(), data, view.consumed) == 0);
    return 0;
}
