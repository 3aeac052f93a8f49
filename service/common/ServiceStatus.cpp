#include "common/ServiceStatus.h"

#include "zo/Utf8.h"

#include <cstdio>

namespace zoscsi {

std::string Quote(const std::string& value) {
    constexpr size_t kShown = 64;
    std::string out = "\"";
    const auto* bytes = reinterpret_cast<const unsigned char*>(value.data());
    size_t length = 1;
    for (size_t i = 0; i < value.size() && i < kShown; i += length) {
        const unsigned char c = bytes[i];
        length = c < 0x80 ? 1 : zo::Utf8SequenceLength(bytes + i, bytes + value.size());
        if (length == 0 || c < 0x20 || c == 0x7F || c == '"' || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
            length = 1;
        } else {
            out.append(value, i, length);  // a whole character, also where it crosses the cut
        }
    }
    out += value.size() > kShown ? "\"..." : "\"";
    return out;
}

}  // namespace zoscsi
