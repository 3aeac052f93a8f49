#include "backend/tgt/TgtClaim.h"

#include "backend/tgt/TgtLayout.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zoscsi::tgt {
namespace {

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

// The folder exists (made when missing), is a folder, is this user's and no
// one else may write in it: nobody can plant or swap a claim file there.
bool SafeFolder(const std::string& folder, std::string& error) {
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        error = Errno("cannot make the tgt claim folder " + folder);
        return false;
    }
    struct stat st;
    if (::lstat(folder.c_str(), &st) != 0) {
        error = Errno("cannot read the tgt claim folder " + folder);
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
        error = "the tgt claim folder " + folder + " is not a folder of this user that only it can write (TgtClaimDir)";
        return false;
    }
    return true;
}

TgtClaim::Holder Parse(const std::string& text) {
    TgtClaim::Holder holder;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        if (line.compare(0, 4, "pid=") == 0) holder.pid = std::atol(line.c_str() + 4);
        else if (line.compare(0, 6, "state=") == 0) holder.stateFolder = line.substr(6);
        start = end + 1;
    }
    return holder;
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[1024];
    off_t at = 0;
    ssize_t n;
    while ((n = ::pread(fd, buffer, sizeof buffer, at)) > 0 && text.size() < 64 * 1024) {
        text.append(buffer, static_cast<size_t>(n));
        at += n;
    }
    return text;
}

}  // namespace

std::string TgtClaim::FileName(int controlPort, const std::string& nameSpace) {
    return "tgtd-" + std::to_string(controlPort) + "-" + NameHash({nameSpace}, 16) + ".claim";
}

bool TgtClaim::Take(const std::string& folder, int controlPort, const std::string& nameSpace, std::string& error) {
    Release();
    if (!SafeFolder(folder, error)) return false;
    const std::string path = folder + "/" + FileName(controlPort, nameSpace);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = Errno("cannot open the tgt claim " + path);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        error = "the tgt claim " + path + " is not a file of this user";
        return false;
    }
    const std::string where = "tgtd name space " + nameSpace + " on control port " + std::to_string(controlPort);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;
        const Holder holder = Parse(ReadAll(fd));
        ::close(fd);
        if (why != EWOULDBLOCK) {
            errno = why;
            error = Errno("cannot lock the tgt claim " + path);
            return false;
        }
        error = where + " is driven by another zoscsisrv (pid " + std::to_string(holder.pid) + ", state folder " +
                (holder.stateFolder.empty() ? "unknown" : holder.stateFolder) + ")";
        return false;
    }
    m_previous = Parse(ReadAll(fd));
    m_fd = fd;
    m_nameSpace = nameSpace;
    return true;
}

bool TgtClaim::Record(const std::string& stateFolder, std::string& error) {
    const std::string text = "pid=" + std::to_string(::getpid()) + "\nstate=" + stateFolder +
                             "\nnamespace=" + m_nameSpace + "\n";
    if (m_fd < 0 || ::ftruncate(m_fd, 0) != 0 ||
        ::pwrite(m_fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
        error = Errno("cannot write the tgt claim");
        return false;
    }
    return true;
}

void TgtClaim::Release() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

}  // namespace zoscsi::tgt
