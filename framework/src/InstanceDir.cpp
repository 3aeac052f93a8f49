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

bool RuntimeRoot(std::string& root, std::string& error) {
    const char* configured = std::getenv("ZO_RUNTIME_DIR");
    if (configured && *configured) {
        if (*configured != '/') {
            error = "ZO_RUNTIME_DIR \"" + std::string(configured) + "\" is not an absolute path";
            return false;
        }
        root = configured;
    } else if (::geteuid() == 0) {
        root = "/run/zo";
    } else {
        const char* xdg = std::getenv("XDG_RUNTIME_DIR");
        root = xdg && *xdg == '/' ? std::string(xdg) + "/zo" : "/tmp/zo-" + std::to_string(::geteuid());
    }
    return true;
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
    paths.identity = paths.dir + "/identity";
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
        if (deadline.Expired()) return EAGAIN;
        std::this_thread::sleep_for(kLockRetry);
    }
}

InstanceClaim::~InstanceClaim() { Release(); }

void InstanceClaim::Release() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

int InstanceClaim::TryTake(const std::string& pidPath) {
    Release();
    m_path = pidPath;
    m_fd = ::open(pidPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0) return errno;
    int code = 0;
    while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        code = errno == EWOULDBLOCK ? EWOULDBLOCK : errno;
        break;
    }
    if (code != 0) Release();
    return code;
}

int InstanceClaim::Write(const std::string& content, std::string& error) {
    int code = 0;
    if (m_fd < 0) code = EBADF;
    else if (::ftruncate(m_fd, 0) != 0) code = errno;
    for (size_t written = 0; code == 0 && written < content.size();) {
        const ssize_t n = ::pwrite(m_fd, content.data() + written, content.size() - written,
                                   static_cast<off_t>(written));
        if (n > 0) written += static_cast<size_t>(n);
        else if (n < 0 && errno != EINTR) code = errno;
    }
    if (code != 0) error = "cannot write " + m_path + ": " + ErrnoText(code);
    return code;
}

std::string FormatRecord(const InstanceRecord& record) {
    return std::to_string(record.pid) + " " + std::to_string(record.startTime) + "\n";
}

bool ReadRecord(const std::string& pidPath, InstanceRecord& record) {
    constexpr size_t kRecordBytes = 64;
    std::string text;
    if (!ReadPrivateFile(pidPath, kRecordBytes, text)) return false;
    char* end = nullptr;
    record.pid = std::strtol(text.c_str(), &end, 10);
    record.startTime = std::strtoll(end, &end, 10);
    return record.pid > 0;
}

namespace {

// The fields of /proc/PID/stat after the command name (which may hold any
// byte, so the last ')' ends it): state first, start time 20th.
std::string StatAfterName(long pid) {
    if (pid <= 0) return "";
    const int fd = ::open(("/proc/" + std::to_string(pid) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "";
    char buffer[1024];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) < 0 && errno == EINTR) {
    }
    ::close(fd);
    if (n <= 0) return "";
    const std::string text(buffer, static_cast<size_t>(n));
    const size_t close = text.rfind(')');
    return close == std::string::npos || close + 2 > text.size() ? "" : text.substr(close + 2);
}

}  // namespace

long long ProcessStartTime(long pid) {
    const std::string fields = StatAfterName(pid);
    size_t at = 0;
    for (int field = 3; field < 22 && at != std::string::npos; ++field) {
        at = fields.find(' ', at);
        if (at != std::string::npos) ++at;
    }
    if (fields.empty() || at == std::string::npos) return -1;
    return std::strtoll(fields.c_str() + at, nullptr, 10);
}

char ProcessState(long pid) {
    const std::string fields = StatAfterName(pid);
    return fields.empty() ? 0 : fields[0];
}

}  // namespace zo
