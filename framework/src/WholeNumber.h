// Whole decimal numbers in settings (environment variables, configuration
// values), read one way everywhere.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <string>

namespace zo {

// True when all of `text` is a decimal number (strtol's form: leading blanks
// and a sign allowed) within [low, high], with it in `value`.
inline bool ParseWholeNumber(const std::string& text, long low, long high, long& value) {
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || parsed < low || parsed > high) return false;
    value = parsed;
    return true;
}

}  // namespace zo
