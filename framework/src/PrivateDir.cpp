#include "PrivateDir.h"

#include "SocketTransport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zo {

std::string ParentDir(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

int EnsurePrivateDir(const std::string& path, std::string& error) {
    if (path.empty()) {
        error = "empty folder path";
        return EINVAL;
    }
    // Every prefix that ends before a '/' (and the whole path) is one level.
    for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string level = path.substr(0, end);
        if (::mkdir(level.c_str(), 0700) == 0) {
            ::chmod(level.c_str(), 0700);  // the umask may have taken bits we need
        } else if (errno != EEXIST) {
            const int code = errno;
            error = "cannot create folder " + level + ": " + ErrnoText(code);
            return code;
        }
        if (end == std::string::npos) break;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        const int code = errno;
        error = "cannot inspect folder " + path + ": " + ErrnoText(code);
        return code;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = path + " is not a directory";
        return ENOTDIR;
    }
    if (st.st_uid != ::geteuid()) {
        error = "folder " + path + " belongs to uid " + std::to_string(st.st_uid) + ", not to this user";
        return EACCES;
    }
    if ((st.st_mode & 077) != 0) {
        error = "folder " + path + " is open to other users (mode 0" + std::to_string((st.st_mode >> 6) & 7) +
                std::to_string((st.st_mode >> 3) & 7) + std::to_string(st.st_mode & 7) + "); it must be 0700";
        return EACCES;
    }
    return 0;
}

}  // namespace zo
