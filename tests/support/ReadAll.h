// The whole of a file as a string, read with plain read(2): "" when it cannot
// be opened, what was read when reading fails half-way. Files under /proc of
// another process fail with ESRCH when it ends between open and read; a
// stream's buffer would throw there instead.
#pragma once

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace zotest {

inline std::string ReadAll(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return text;
}

}  // namespace zotest
