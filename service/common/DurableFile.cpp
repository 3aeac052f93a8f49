#include "common/DurableFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace zoscsi {

void SyncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)fsync(fd);
        close(fd);
    }
}

bool WriteDurableFile(const std::string& path, const std::string& text, int create, std::string& error) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | create | O_CLOEXEC | O_NOFOLLOW, 0600);
    const bool ok = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                    fsync(fd) == 0;
    const int saved = errno;
    if (fd >= 0) close(fd);
    if (!ok) {
        error = "cannot write " + path + ": " + std::strerror(saved);
        return false;
    }
    const size_t slash = path.rfind('/');
    SyncFolder(slash == 0 ? "/" : slash == std::string::npos ? "." : path.substr(0, slash));
    return true;
}

}  // namespace zoscsi
