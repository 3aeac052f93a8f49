#include "app/StateFolder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zoscsi {

bool MakeStateFolder(const std::string& path, std::string& error) {
    for (size_t at = path.find('/', 1); ; at = path.find('/', at + 1)) {
        const std::string part = path.substr(0, at);
        if (!part.empty() && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create " + part + ": " + std::strerror(errno);
            return false;
        }
        if (at == std::string::npos) break;
    }
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = path + " is not a folder";
        return false;
    }
    return true;
}

InstanceLock::~InstanceLock() {
    if (m_fd >= 0) close(m_fd);
}

bool InstanceLock::Acquire(const std::string& folder, int waitMillis, std::string& error) {
    const std::string path = folder + "/zoscsisrv.lock";
    m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    constexpr int kStepMillis = 20;
    int waited = 0;
    while (flock(m_fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK && waited < waitMillis) {
        usleep(kStepMillis * 1000);
        waited += kStepMillis;
    }
    if (flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        char holder[32] = {0};
        const ssize_t got = pread(m_fd, holder, sizeof holder - 1, 0);
        std::string pid = got > 0 ? std::string(holder, static_cast<size_t>(got)) : std::string("?");
        while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
        error = "another zoscsisrv (pid " + pid + ") serves " + folder;
        close(m_fd);
        m_fd = -1;
        return false;
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(m_fd, 0) != 0 || pwrite(m_fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace zoscsi
