#include "common/ServiceStatus.h"

#include <cstdio>

namespace zoscsi {

std::string Quote(const std::string& value) {
    constexpr size_t kShown = 64;
    std::string out = "\"";
    for (size_t i = 0; i < value.size() && i < kShown; ++i) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        if (c < 0x20 || c == 0x7F || c == '"' || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += value.size() > kShown ? "\"..." : "\"";
    return out;
}

}  // namespace zoscsi
