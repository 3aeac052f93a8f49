#include "app/SecretFile.h"

#include "common/ServiceStatus.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zoscsi {
namespace {

constexpr size_t kMaxSessionBytes = 4096;

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

std::string OctalMode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// "group can read it, others can read and write it" for the bits at fault.
std::string OpenTo(mode_t mode) {
    std::string text;
    const struct {
        const char* who;
        mode_t read, write;
    } classes[] = {{"group", S_IRGRP, S_IWGRP}, {"others", S_IROTH, S_IWOTH}};
    for (const auto& c : classes) {
        const bool r = mode & c.read, w = mode & c.write;
        if (!r && !w) continue;
        if (!text.empty()) text += ", ";
        text += std::string(c.who) + " can " + (r && w ? "read and write" : r ? "read" : "write") + " it";
    }
    return text;
}

std::string Trimmed(const std::string& text) {
    const char* blanks = " \t\r\n";
    const size_t begin = text.find_first_not_of(blanks);
    if (begin == std::string::npos) return "";
    return text.substr(begin, text.find_last_not_of(blanks) - begin + 1);
}

// The checks both kinds of file share, on the open file: a regular file of
// one of the owners, with none of the `closed` permission bits.
bool CheckSecret(int fd, const std::string& path, const std::string& what, unsigned ownerUid, bool rootMayOwn,
                 mode_t closed, struct stat& st, std::string& error) {
    if (::fstat(fd, &st) != 0) {
        error = "cannot stat " + what + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = what + " is not a regular file";
        return false;
    }
    if (st.st_uid != ownerUid && !(rootMayOwn && st.st_uid == 0)) {
        error = what + " is owned by uid " + std::to_string(st.st_uid) + ", not by the service's user (uid " +
                std::to_string(ownerUid) + ")";
        return false;
    }
    if ((st.st_mode & closed) != 0) {
        error = what + " has mode " + OctalMode(st.st_mode) + ": " + OpenTo(st.st_mode & closed) + " (chmod " +
                ((closed & S_IRGRP) ? "600 " : "640 ") + path + ")";
        return false;
    }
    return true;
}

// Opens `path` for reading; a FIFO planted there must not hold the start.
int OpenSecret(const std::string& path, const std::string& what, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) error = "cannot open " + what + ": " + std::strerror(errno);
    return fd;
}

}  // namespace

bool CheckKeyFile(const std::string& path, unsigned ownerUid, std::string& error) {
    const std::string what = "private key file " + Quote(path);
    const Fd file{OpenSecret(path, what, error)};
    struct stat st {};
    return file.fd >= 0 && CheckSecret(file.fd, path, what, ownerUid, true, S_IWGRP | S_IROTH | S_IWOTH, st, error);
}

bool ReadSessionFile(const std::string& path, unsigned ownerUid, std::string& session, std::string& error) {
    const std::string what = "session file " + Quote(path);
    const Fd file{OpenSecret(path, what, error)};
    struct stat st {};
    if (file.fd < 0 ||
        !CheckSecret(file.fd, path, what, ownerUid, false, S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH, st, error))
        return false;
    if (st.st_size > static_cast<off_t>(kMaxSessionBytes)) {
        error = what + " is larger than " + std::to_string(kMaxSessionBytes) + " bytes";
        return false;
    }
    std::string text(kMaxSessionBytes + 1, '\0');
    size_t got = 0;
    for (;;) {
        const ssize_t n = ::read(file.fd, &text[got], text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = "cannot read " + what + ": " + std::strerror(errno);
            return false;
        }
        if (n == 0 || (got += static_cast<size_t>(n)) == text.size()) break;
    }
    if (got > kMaxSessionBytes) {
        error = what + " is larger than " + std::to_string(kMaxSessionBytes) + " bytes";
        return false;
    }
    text = Trimmed(text.substr(0, got));
    if (text.empty()) {
        error = what + " is empty";
        return false;
    }
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) {
            error = what + " holds more than one line or a control character";
            return false;
        }
    }
    session = std::move(text);
    return true;
}

}  // namespace zoscsi
