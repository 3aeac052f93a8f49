#include "inventory/InventoryFile.h"

#include "common/DurableFile.h"
#include "common/Names.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zoscsi {
namespace {

constexpr int64_t kApplicationId = 0x5A4F5343;  // "ZOSC"

const char* const kSchema = R"sql(
CREATE TABLE targets(
  name    TEXT NOT NULL PRIMARY KEY,
  params  TEXT NOT NULL,
  created INTEGER NOT NULL
) WITHOUT ROWID;
CREATE TABLE luns(
  target  TEXT NOT NULL REFERENCES targets(name),
  id      INTEGER NOT NULL CHECK (id BETWEEN 1 AND 16383),
  name    TEXT NOT NULL,
  size    INTEGER NOT NULL,
  setting INTEGER NOT NULL,
  options TEXT NOT NULL,
  open    INTEGER NOT NULL CHECK (open IN (0, 1)),
  created INTEGER NOT NULL,
  PRIMARY KEY (target, id)
) WITHOUT ROWID;
CREATE TABLE mappings(
  target  TEXT NOT NULL,
  lun     INTEGER NOT NULL,
  host    TEXT NOT NULL,
  created INTEGER NOT NULL,
  PRIMARY KEY (target, lun, host),
  FOREIGN KEY (target, lun) REFERENCES luns(target, id)
) WITHOUT ROWID;
CREATE INDEX mappings_by_host ON mappings(host, target, lun);
)sql";

enum class FileState { Missing, Empty, Present };

FileState StateOf(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) return FileState::Missing;
        throw InventoryOpenError("cannot examine " + path + ": " + std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) throw InventoryOpenError(path + " is not a regular file");
    return info.st_size == 0 ? FileState::Empty : FileState::Present;
}

void WriteMarker(const InventoryPaths& paths) {
    const std::string text = "inventory created " + std::to_string(static_cast<long long>(std::time(nullptr))) +
                             " (schema " + std::to_string(kInventorySchemaVersion) + ")\n";
    std::string error;
    if (!WriteDurableFile(paths.marker, text, O_TRUNC, error)) throw InventoryOpenError(error);
}

void Configure(SqliteDb& db) {
    if (db.QueryText("PRAGMA journal_mode=WAL") != "wal")
        throw InventoryOpenError(db.path() + ": cannot switch to write-ahead logging");
    // temp_store: the writer keeps the full listing's size in a temporary
    // table (InventoryQueries), which must not depend on a writable /tmp.
    db.Exec("PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON; PRAGMA temp_store=MEMORY;");
}

void CreateSchema(SqliteDb& db) {
    db.Exec("BEGIN IMMEDIATE");
    try {
        if (db.QueryInt("PRAGMA user_version") == 0) {
            db.Exec(kSchema);
            db.Exec(("PRAGMA application_id=" + std::to_string(kApplicationId) +
                     "; PRAGMA user_version=" + std::to_string(kInventorySchemaVersion))
                        .c_str());
        }
        db.Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void CheckSchema(SqliteDb& db) {
    const std::string check = db.QueryText("PRAGMA quick_check");
    if (check != "ok") throw InventoryOpenError(db.path() + " fails its integrity check: " + check);
    const int64_t version = db.QueryInt("PRAGMA user_version");
    const int64_t application = db.QueryInt("PRAGMA application_id");
    if (version == 0 && db.QueryInt("SELECT count(*) FROM sqlite_schema") == 0) return;  // created below
    if (application != kApplicationId)
        throw InventoryOpenError(db.path() + " is an SQLite database but not an inventory of this service");
    if (version > kInventorySchemaVersion)
        throw InventoryOpenError(db.path() + " has inventory schema " + std::to_string(version) +
                                 ", newer than this program's " + std::to_string(kInventorySchemaVersion));
    if (version < 1) throw InventoryOpenError(db.path() + " has no inventory schema version");
}

}  // namespace

InventoryPaths::InventoryPaths(const std::string& folderPath)
    : folder(folderPath), database(folderPath + "/inventory.db"), marker(folderPath + "/inventory.created") {}

std::unique_ptr<SqliteDb> OpenInventoryDatabase(const InventoryPaths& paths) {
    const FileState database = StateOf(paths.database);
    const bool created = StateOf(paths.marker) != FileState::Missing;
    if (database != FileState::Present && created)
        throw InventoryOpenError("the inventory " + paths.database + " is " +
                                 (database == FileState::Missing ? "missing" : "empty") + " although " +
                                 paths.marker + " says it was created; restore it from a backup, or remove " +
                                 paths.marker + " to start with an empty inventory");
    try {
        auto db = std::make_unique<SqliteDb>(paths.database, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        CheckSchema(*db);
        Configure(*db);
        CreateSchema(*db);
        if (!created) WriteMarker(paths);
        return db;
    } catch (const SqliteError& error) {
        throw InventoryOpenError("the inventory " + paths.database + " cannot be read: " + error.what());
    }
}

std::unique_ptr<SqliteDb> OpenInventoryReader(const InventoryPaths& paths) {
    auto db = std::make_unique<SqliteDb>(paths.database, SQLITE_OPEN_READWRITE);
    db->Exec("PRAGMA foreign_keys=ON; PRAGMA query_only=ON;");
    return db;
}

}  // namespace zoscsi
