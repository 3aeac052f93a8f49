#include "app/StateFolder.h"

#include "common/DurableFile.h"
#include "zo/PrivateDir.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zoscsi {

namespace {

// Creates each missing level of `path` (0700); existing ones are left as they are.
bool MakeMissingLevels(const std::string& path, std::string& error) {
    for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create " + part + ": " + std::strerror(errno);
            return false;
        }
        if (at == std::string::npos) return true;
    }
}

bool RealPath(const std::string& path, std::string& real, std::string& error) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) {
        error = "cannot resolve state root " + path + ": " + std::strerror(errno);
        return false;
    }
    real = resolved;
    free(resolved);
    return true;
}

// The root as its real path, once no other user can change it or what is above it.
bool TrustedRoot(const std::string& root, std::string& real, std::string& error) {
    return RealPath(root, real, error) && zo::CheckSafeParents(real, error) == 0 &&
           zo::CheckOwnedDir(real, error) == 0;
}

bool Marked(const std::string& root) {
    struct stat info {};
    return lstat((root + "/" + kStateRootMark).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

StateOutcome PrepareStateFolders(const std::string& root, const std::string& client, bool requireMark,
                                 StateFolders& folders, std::string& error) {
    if (requireMark && !Marked(root)) {
        error = "state root " + root + " is missing or holds no " + kStateRootMark +
                ", and RequireMountedState is set: is the disk that holds it mounted? (a new node's root is "
                "marked once with zoscsisrv --init-state)";
        return StateOutcome::kNotInitialised;
    }
    if (!MakeMissingLevels(root, error) || !TrustedRoot(root, folders.root, error)) return StateOutcome::kUnsafe;
    folders.folder = folders.root + "/" + client;
    if (zo::EnsurePrivateDir(folders.folder, error) != 0) return StateOutcome::kUnsafe;
    return StateOutcome::kReady;
}

bool InitialiseStateRoot(const std::string& root, std::string& error) {
    std::string real;
    if (!MakeMissingLevels(root, error) || !TrustedRoot(root, real, error)) return false;
    if (Marked(real)) return true;
    const std::string text = "zoscsisrv state root, initialised " + std::to_string(static_cast<long long>(time(nullptr))) + "\n";
    return WriteDurableFile(real + "/" + kStateRootMark, text, O_EXCL, error);
}

InstanceLock::~InstanceLock() {
    if (m_fd >= 0) close(m_fd);
}

LockResult InstanceLock::Acquire(const std::string& folder, int waitMillis, std::string& error) {
    const std::string path = folder + "/zoscsisrv.lock";
    m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return LockResult::Failed;
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
        return LockResult::Held;
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(m_fd, 0) != 0 || pwrite(m_fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return LockResult::Failed;
    }
    return LockResult::Taken;
}

}  // namespace zoscsi
