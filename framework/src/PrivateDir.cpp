#include "PrivateDir.h"

#include "SocketTransport.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace zo {
namespace {

std::string ModeText(mode_t mode) {
    std::string text = "0";
    if (mode & 07000) text += std::to_string((mode >> 9) & 7);
    return text + std::to_string((mode >> 6) & 7) + std::to_string((mode >> 3) & 7) + std::to_string(mode & 7);
}

// A group named like the effective user, whose only possible member is that
// user: what user-private-group systems give every account.
bool IsOwnPrivateGroup(gid_t gid) {
    if (gid != ::getegid()) return false;
    std::vector<char> userBuffer(16384), groupBuffer(16384);
    passwd user {};
    group grp {};
    passwd* userFound = nullptr;
    group* groupFound = nullptr;
    if (::getpwuid_r(::geteuid(), &user, userBuffer.data(), userBuffer.size(), &userFound) != 0 || !userFound ||
        ::getgrgid_r(gid, &grp, groupBuffer.data(), groupBuffer.size(), &groupFound) != 0 || !groupFound)
        return false;
    if (std::string(grp.gr_name) != user.pw_name) return false;
    for (char** member = grp.gr_mem; member && *member; ++member)
        if (std::string(*member) != user.pw_name) return false;
    return true;
}

bool OthersMayWrite(const struct stat& st) {
    return (st.st_mode & S_IWOTH) || ((st.st_mode & S_IWGRP) && !IsOwnPrivateGroup(st.st_gid));
}

int Inspect(const std::string& path, struct stat& st, std::string& error) {
    if (::lstat(path.c_str(), &st) != 0) {
        const int code = errno;
        error = "cannot inspect folder " + path + ": " + ErrnoText(code);
        return code;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = path + " is not a directory";
        return ENOTDIR;
    }
    return 0;
}

}  // namespace

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
    if (const int code = Inspect(path, st, error)) return code;
    if (st.st_uid != ::geteuid()) {
        error = "folder " + path + " belongs to uid " + std::to_string(st.st_uid) + ", not to this user";
        return EACCES;
    }
    if ((st.st_mode & 077) != 0) {
        error = "folder " + path + " is open to other users (mode " + ModeText(st.st_mode & 07777) +
                "); it must be 0700";
        return EACCES;
    }
    return 0;
}

int CheckOwnedDir(const std::string& path, std::string& error) {
    struct stat st {};
    if (const int code = Inspect(path, st, error)) return code;
    if (st.st_uid != ::geteuid()) {
        error = "folder " + path + " belongs to uid " + std::to_string(st.st_uid) + ", not to this user";
        return EACCES;
    }
    if (OthersMayWrite(st)) {
        error = "folder " + path + " can be written by other users (mode " + ModeText(st.st_mode & 07777) +
                "); take their write access away (chmod go-w)";
        return EACCES;
    }
    return 0;
}

int CheckSafeParents(const std::string& path, std::string& error) {
    if (path.empty() || path[0] != '/') {
        error = "folder " + path + " is not an absolute path";
        return EINVAL;
    }
    for (std::string level = ParentDir(path);; level = ParentDir(level)) {
        struct stat st {};
        if (const int code = Inspect(level, st, error)) return code;
        if (st.st_uid != 0 && st.st_uid != ::geteuid()) {
            error = "folder " + level + " above " + path + " belongs to uid " + std::to_string(st.st_uid) +
                    ", who could replace what lies in it";
            return EACCES;
        }
        if (OthersMayWrite(st) && !(st.st_mode & S_ISVTX)) {
            error = "folder " + level + " above " + path + " can be written by other users without the sticky bit (mode " +
                    ModeText(st.st_mode & 07777) + "), so they could replace what lies in it";
            return EACCES;
        }
        if (level == "/") return 0;
    }
}

}  // namespace zo
