// FXErrorUtil: the factory of error objects.
#pragma once

#include "CYbError.h"

class FXErrorUtil {
public:
    // A new error in the host's code space (258 time-out, 774 service failure,
    // 183 already exists, ...). The first frame of the trail is `location`
    // with the formatted text, which is also the error's message.
    static CYbError ErrorWin32(const FXCodeLocation& location, unsigned int code, const char* format, ...)
        __attribute__((format(printf, 3, 4)));

    // A new error in the errno space (22 for an invalid argument, ...).
    static CYbError ErrorErrNo(const FXCodeLocation& location, int code, const char* format, ...)
        __attribute__((format(printf, 3, 4)));

    // The same with a ready text (no formatting); used by the framework itself.
    static CYbError Make(const FXCodeLocation& location, FXErrorSpace space, unsigned int code,
                         const std::string& message);
};

// Convenience for framework code: the location of the current statement.
#define FX_HERE(file, function) FXCodeLocation((file), (function), __LINE__)
