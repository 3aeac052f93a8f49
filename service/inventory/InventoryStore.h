// InventoryStore: the inventory's connections and transactions.
//
// Writes run one at a time on the write connection inside BEGIN IMMEDIATE;
// the body's failure (or an exception) rolls back, success commits, and the
// commit (synchronous=FULL in WAL mode) is durable when Write returns. Reads
// run on connections of their own, each in one read transaction, so they
// see one committed state and run alongside a write.
#pragma once

#include "common/ServiceStatus.h"
#include "inventory/InventoryFile.h"
#include "inventory/InventoryQueries.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zoscsi {

class InventoryStore {
public:
    using Body = std::function<ServiceStatus(InventoryQueries&)>;

    // Opens (on the first start: creates) the inventory in `folder`.
    // Throws InventoryOpenError with a text that says what is wrong.
    explicit InventoryStore(const std::string& folder);
    ~InventoryStore();
    InventoryStore(const InventoryStore&) = delete;
    InventoryStore& operator=(const InventoryStore&) = delete;

    // Commits when `body` answers ok, rolls back otherwise; returns the body's
    // status. SQLite failures (the commit's too) throw SqliteError after the
    // rollback.
    ServiceStatus Write(const Body& body);
    // Runs `body` in a read transaction. Throws SqliteError.
    ServiceStatus Read(const Body& body);

    const std::string& path() const { return m_paths.database; }

private:
    std::unique_ptr<SqliteDb> TakeReader();
    void ReturnReader(std::unique_ptr<SqliteDb> reader);

    InventoryPaths m_paths;
    std::mutex m_writeLock;
    std::unique_ptr<SqliteDb> m_writer;
    std::mutex m_readersLock;
    std::vector<std::unique_ptr<SqliteDb>> m_readers;  // idle read connections
};

}  // namespace zoscsi
