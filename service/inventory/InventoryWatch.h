// InventoryWatch: the files SQLite writes the inventory into must stay the
// files at the inventory's paths. A database (or its -wal or -shm) that is
// removed, replaced or emptied while the service runs would take every later
// commit with it: SQLite goes on writing into the file it has open, and the
// next start finds nothing, or another file, at the path.
#pragma once

#include "inventory/InventoryFile.h"

#include <sys/types.h>

#include <atomic>
#include <string>
#include <vector>

namespace zoscsi {

class InventoryWatch {
public:
    // Records which files are at the paths now: call it once the write
    // connection has opened the database in write-ahead-log mode (which
    // makes the -wal and -shm files).
    explicit InventoryWatch(const InventoryPaths& paths);

    // "" while every file is still the one recorded and none that had
    // content is empty; otherwise what happened to which file. Costs one
    // stat per file; safe from any thread.
    std::string Changed() const;

private:
    struct Watched {
        std::string path;
        dev_t device = 0;
        ino_t inode = 0;
        bool present = false;
        mutable std::atomic<bool> hadContent{false};
    };

    std::vector<Watched> m_files;
};

}  // namespace zoscsi
