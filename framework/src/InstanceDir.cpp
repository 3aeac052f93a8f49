#include "InstanceDir.h"

#include "PrivateDir.h"
#include "SocketTransport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace zo {

namespace {
constexpr auto kLockRetry = std::chrono::milliseconds(10);
}  // namespace

bool ValidInstanceName(const std::string& name, std::string& why) {
    if (name.empty() || name.size() > kMaxInstanceNameBytes) {
        why = "must be 1 to " + std::to_string(kMaxInstanceNameBytes) + " bytes long";
        return false;
    }
    if (name[0] == '.' || name.find("..") != std::string::npos) {
        why = "must not start with '.' or hold \"..\"";
        return false;
    }
    for (unsigned char c : name) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                             c == '.' || c == '_' || c == '-';
        if (!allowed) {
            why = "may hold only letters, digits, '.', '_' and '-'";
            return false;
        }
    }
    return true;
}

std::string RuntimeRoot() {
    const char* configured = std::getenv("ZO_RUNTIME_DIR");
    if (configured && *configured) return configured;
    if (::geteuid() == 0) return "/run/zo";
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg && *xdg == '/') return std::string(xdg) + "/zo";
    return "/tmp/zo-" + std::to_string(::geteuid());
}

InstancePaths PathsFor(const std::string& root, const std::string& service, const std::string& client) {
    InstancePaths paths;
    paths.root = root;
    paths.serviceDir = root + "/" + service;
    paths.dir = paths.serviceDir + "/" + client;
    paths.socket = paths.dir + "/socket";
    paths.pid = paths.dir + "/pid";
    paths.session = paths.dir + "/session";
    paths.lock = paths.dir + "/lock";
    paths.log = paths.dir + "/service.log";
    return paths;
}

int PrepareInstanceDir(const InstancePaths& paths, std::string& error) {
    for (const std::string* level : {&paths.root, &paths.serviceDir, &paths.dir}) {
        const int code = EnsurePrivateDir(*level, error);
        if (code != 0) return code;
    }
    return 0;
}

int WritePrivateFile(const std::string& path, const std::string& content, std::string& error) {
    const std::string temporary = path + ".new";
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    int code = fd < 0 ? errno : 0;
    for (size_t written = 0; code == 0 && written < content.size();) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n > 0) written += static_cast<size_t>(n);
        else if (n < 0 && errno != EINTR) code = errno;
    }
    if (fd >= 0 && ::close(fd) != 0 && code == 0) code = errno;
    if (code == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) code = errno;
    if (code != 0) {
        ::unlink(temporary.c_str());
        error = "cannot write " + path + ": " + ErrnoText(code);
    }
    return code;
}

bool ReadPrivateFile(const std::string& path, size_t maxBytes, std::string& content) {
    content.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
              static_cast<size_t>(st.st_size) <= maxBytes;
    char buffer[256];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || content.size() + static_cast<size_t>(n) > maxBytes) ok = false;
        else content.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (!ok) content.clear();
    return ok;
}

std::string NewSessionId() {
    unsigned char bytes[16];
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "";
    size_t got = 0;
    int code = EIO;  // for a short read without an errno
    while (got < sizeof bytes) {
        const ssize_t n = ::read(fd, bytes + got, sizeof bytes - got);
        if (n > 0) {
            got += static_cast<size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            if (n < 0) code = errno;
            break;
        }
    }
    ::close(fd);
    if (got < sizeof bytes) {
        errno = code;
        return "";
    }
    static const char kHex[] = "0123456789abcdef";
    std::string id;
    for (unsigned char b : bytes) {
        id += kHex[b >> 4];
        id += kHex[b & 15];
    }
    return id;
}

InstanceLock::~InstanceLock() {
    if (m_fd >= 0) ::close(m_fd);  // releases the flock
}

int InstanceLock::Acquire(const std::string& path, const Deadline& deadline) {
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0) return errno;
    // Polled rather than blocking, so a stuck holder cannot stall us forever.
    for (;;) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) return 0;
        if (errno != EWOULDBLOCK && errno != EINTR) return errno;
        if (deadline.Expired()) return ETIMEDOUT;
        std::this_thread::sleep_for(kLockRetry);
    }
}

}  // namespace zo
