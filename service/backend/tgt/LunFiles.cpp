#include "backend/tgt/LunFiles.h"

#include "common/DurableFile.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace zoscsi::tgt {
namespace {

std::string Folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

bool Fail(std::string& error, const std::string& what) {
    error = what + ": " + std::strerror(errno);
    return false;
}

// mkdir -p, 0700; the last component must be a real folder.
bool MakeFolder(const std::string& folder, std::string& error) {
    int made = ::mkdir(folder.c_str(), 0700);
    if (made != 0 && errno == ENOENT && folder != "/") {
        if (!MakeFolder(Folder(folder), error)) return false;
        made = ::mkdir(folder.c_str(), 0700);
    }
    if (made == 0) {
        SyncFolder(Folder(folder));
        return true;
    }
    if (errno != EEXIST) return Fail(error, "cannot make " + folder);
    struct stat st;
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = folder + " is not a folder";
        return false;
    }
    return true;
}

}  // namespace

bool CreateBackingFile(const std::string& path, uint64_t sizeBytes, std::string& error) {
    if (!MakeFolder(Folder(path), error)) return false;
    const uint64_t size = (sizeBytes + 511) / 512 * 512;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return Fail(error, "cannot create " + path);
    const bool sized = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    int failure = sized ? 0 : errno;
    if (sized) {
        // The file and its folder entry are synced at once: the file system
        // may serve both with one flush of the disk.
        std::thread folder([&path] { SyncFolder(Folder(path)); });
        if (::fsync(fd) != 0) failure = errno;
        folder.join();
    }
    ::close(fd);
    if (failure != 0) {
        errno = failure;
        Fail(error, "cannot give " + path + " " + std::to_string(size) + " bytes");
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

bool BackingFileExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool RemoveBackingFile(const std::string& path, std::string& error) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return Fail(error, "cannot remove " + path);
    SyncFolder(Folder(path));
    RemoveFolderIfEmpty(Folder(path));
    return true;
}

namespace {
constexpr const char kRetired[] = ".deleted";
}  // namespace

bool RetireBackingFile(const std::string& path, std::string& error) {
    if (::rename(path.c_str(), (path + kRetired).c_str()) != 0 && errno != ENOENT)
        return Fail(error, "cannot remove " + path);
    SyncFolder(Folder(path));
    return true;
}

void SettleRetiredFile(const std::string& livePath, bool keep) {
    const std::string retired = livePath + kRetired;
    if (keep && !BackingFileExists(livePath) && ::rename(retired.c_str(), livePath.c_str()) == 0) {
        SyncFolder(Folder(livePath));
        return;
    }
    std::string ignored;
    (void)RemoveBackingFile(retired, ignored);
}

std::vector<std::string> RetiredFiles(const std::string& lunDir) {
    std::vector<std::string> live;
    const size_t suffix = sizeof kRetired - 1;
    DIR* targets = ::opendir(lunDir.c_str());
    while (dirent* target = targets ? ::readdir(targets) : nullptr) {
        if (target->d_name[0] == '.') continue;
        const std::string folder = lunDir + "/" + target->d_name;
        DIR* files = ::opendir(folder.c_str());
        while (dirent* file = files ? ::readdir(files) : nullptr) {
            const std::string name = file->d_name;
            if (name.size() > suffix && name.compare(name.size() - suffix, suffix, kRetired) == 0)
                live.push_back(folder + "/" + name.substr(0, name.size() - suffix));
        }
        if (files) ::closedir(files);
    }
    if (targets) ::closedir(targets);
    return live;
}

void RemoveFolderIfEmpty(const std::string& folder) {
    if (::rmdir(folder.c_str()) == 0) SyncFolder(Folder(folder));
}

}  // namespace zoscsi::tgt
