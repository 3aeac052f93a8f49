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
    : m_paths(folder), m_writer(OpenInventoryDatabase(m_paths)), m_watch(m_paths) {}

InventoryStore::~InventoryStore() = default;

struct InventoryStore::PendingWrite {
    const Body* body;
    ServiceStatus status;
    std::exception_ptr error;
    bool done = false;
};

ServiceStatus InventoryStore::Write(const Body& body) {
    PendingWrite mine{&body, ServiceStatus(), nullptr};
    std::unique_lock<std::mutex> lock(m_writeLock);
    m_waiting.push_back(&mine);
    while (!mine.done) {
        if (m_writing) {
            m_written.wait(lock);
            continue;
        }
        // No write runs: this one writes every body waiting now, its own too.
        std::vector<PendingWrite*> group;
        group.swap(m_waiting);
        m_writing = true;
        lock.unlock();
        WriteGroup(group);
        lock.lock();
        m_writing = false;
        for (PendingWrite* write : group) write->done = true;
        m_written.notify_all();
    }
    if (mine.error) std::rethrow_exception(mine.error);
    return mine.status;
}

size_t InventoryStore::WaitingWrites() {
    std::lock_guard<std::mutex> lock(m_writeLock);
    return m_waiting.size();
}

void InventoryStore::Guard() {
    if (!m_lost) {
        const std::string changed = m_watch.Changed();
        if (changed.empty()) return;
        std::lock_guard<std::mutex> lock(m_lostLock);
        if (m_lostWhy.empty())
            m_lostWhy = "the inventory changed underneath the service: " + changed +
                        "; this instance takes no request any more (restore the inventory, then restart the service)";
        m_lost = true;
    }
    std::lock_guard<std::mutex> lock(m_lostLock);
    throw InventoryLostError(m_lostWhy);
}

void InventoryStore::WriteGroup(const std::vector<PendingWrite*>& group) {
    SqliteDb& db = *m_writer;
    // The files are checked before a transaction begins, so that nothing is
    // carried out for a change that cannot last, and again after its commit,
    // before any write of the group is answered.
    if (group.size() == 1) {  // alone: the plain transaction
        try {
            Guard();
            group[0]->status = InTransaction(db, "BEGIN IMMEDIATE", *group[0]->body);
            if (group[0]->status.ok()) {
                Guard();
                Committed();
            }
        } catch (...) {
            group[0]->error = std::current_exception();
        }
        return;
    }
    bool anyOk = false;
    try {
        Guard();
        db.Exec("BEGIN IMMEDIATE");
        InventoryQueries queries(db);
        for (PendingWrite* write : group) {
            db.Exec("SAVEPOINT one_write");
            try {
                write->status = (*write->body)(queries);
            } catch (...) {
                write->error = std::current_exception();
            }
            if (write->error || !write->status.ok()) db.Exec("ROLLBACK TO one_write");
            db.Exec("RELEASE one_write");
            anyOk = anyOk || (!write->error && write->status.ok());
        }
        db.Exec(anyOk ? "COMMIT" : "ROLLBACK");
        if (anyOk) {
            Guard();
            Committed();
        }
    } catch (...) {
        // The files were changed, or BEGIN, a savepoint or the commit failed:
        // no write of the group is acknowledged.
        if (!sqlite3_get_autocommit(db.handle())) sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        const std::exception_ptr failure = std::current_exception();
        for (PendingWrite* write : group)
            if (!write->error) write->error = failure;
    }
}

void InventoryStore::Committed() {
    ++m_commits;
    if (m_commitHook) m_commitHook();
}

ServiceStatus InventoryStore::Read(const Body& body) {
    Guard();
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
