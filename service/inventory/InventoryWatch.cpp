#include "inventory/InventoryWatch.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace zoscsi {

InventoryWatch::InventoryWatch(const InventoryPaths& paths) : m_files(3) {
    const std::string names[] = {paths.database, paths.database + "-wal", paths.database + "-shm"};
    for (size_t i = 0; i < m_files.size(); ++i) {
        Watched& file = m_files[i];
        file.path = names[i];
        struct stat info {};
        if (::stat(file.path.c_str(), &info) != 0) continue;  // a file that is not there is not watched
        file.present = true;
        file.device = info.st_dev;
        file.inode = info.st_ino;
        file.hadContent = info.st_size > 0;
    }
}

std::string InventoryWatch::Changed() const {
    for (const Watched& file : m_files) {
        if (!file.present) continue;
        struct stat info {};
        if (::stat(file.path.c_str(), &info) != 0) {
            if (errno == ENOENT) return file.path + " was removed";
            return file.path + " cannot be examined: " + std::strerror(errno);
        }
        if (info.st_dev != file.device || info.st_ino != file.inode) return file.path + " was replaced by another file";
        if (info.st_size > 0) file.hadContent = true;
        else if (file.hadContent) return file.path + " was emptied";
    }
    return std::string();
}

}  // namespace zoscsi
