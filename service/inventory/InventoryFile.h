// InventoryFile: finding, creating and checking the inventory database.
//
// The inventory of one instance lives in its folder (STATE/<client>):
//   inventory.db       the SQLite database (WAL: -wal and -shm beside it)
//   inventory.created  written once the database was first created; from
//                      then on a missing or empty database is an error,
//                      never a silent fresh start
// A database that SQLite cannot read, that fails its quick check, that is
// not an inventory or whose schema is newer than this program's is refused.
#pragma once

#include "inventory/Sqlite.h"

#include <memory>
#include <stdexcept>
#include <string>

namespace zoscsi {

constexpr int kInventorySchemaVersion = 1;

// Why an inventory cannot be used; the text says what to do.
class InventoryOpenError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct InventoryPaths {
    std::string folder;
    std::string database;  // folder/inventory.db
    std::string marker;    // folder/inventory.created

    explicit InventoryPaths(const std::string& folder);
};

// Opens the write connection: WAL, synchronous=FULL, foreign keys, schema
// checked or (on the first start) created. Throws InventoryOpenError.
std::unique_ptr<SqliteDb> OpenInventoryDatabase(const InventoryPaths& paths);

// Sets up a further connection to an open inventory (reads).
std::unique_ptr<SqliteDb> OpenInventoryReader(const InventoryPaths& paths);

}  // namespace zoscsi
