#include "inventory/InventoryStore.h"

#include <sqlite3.h>

namespace zoscsi {
namespace {

constexpr size_t kIdleReadersKept = 8;

// Runs `body` between `begin` and COMMIT on `db`; anything else rolls back.
ServiceStatus InTransaction(SqliteDb& db, const char* begin, const InventoryStore::Body& body) {
    db.Exec(begin);
    ServiceStatus status;
    try {
        InventoryQueries queries(db);
        status = body(queries);
        if (status.ok()) {
            db.Exec("COMMIT");
            return status;
        }
    } catch (...) {
        if (!sqlite3_get_autocommit(db.handle())) sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    db.Exec("ROLLBACK");
    return status;
}

}  // namespace

InventoryStore::InventoryStore(const std::string& folder)
    : m_paths(folder), m_writer(OpenInventoryDatabase(m_paths)) {}

InventoryStore::~InventoryStore() = default;

ServiceStatus InventoryStore::Write(const Body& body) {
    std::lock_guard<std::mutex> lock(m_writeLock);
    return InTransaction(*m_writer, "BEGIN IMMEDIATE", body);
}

ServiceStatus InventoryStore::Read(const Body& body) {
    std::unique_ptr<SqliteDb> reader = TakeReader();
    ServiceStatus status = InTransaction(*reader, "BEGIN", body);
    ReturnReader(std::move(reader));
    return status;
}

std::unique_ptr<SqliteDb> InventoryStore::TakeReader() {
    {
        std::lock_guard<std::mutex> lock(m_readersLock);
        if (!m_readers.empty()) {
            std::unique_ptr<SqliteDb> reader = std::move(m_readers.back());
            m_readers.pop_back();
            return reader;
        }
    }
    return OpenInventoryReader(m_paths);
}

void InventoryStore::ReturnReader(std::unique_ptr<SqliteDb> reader) {
    std::lock_guard<std::mutex> lock(m_readersLock);
    if (m_readers.size() < kIdleReadersKept) m_readers.push_back(std::move(reader));
}

}  // namespace zoscsi
