// InventoryStore: the inventory's connections and transactions.
//
// Writes run one at a time on the write connection inside BEGIN IMMEDIATE;
// the body's failure (or an exception) rolls back, success commits, and the
// commit (synchronous=FULL in WAL mode) is durable when Write returns. Reads
// run on connections of their own, each in one read transaction, so they
// see one committed state and run alongside a write.
//
// Writes that arrive while another is being written and synced share the
// next commit (group commit): the first of them runs every waiting body in
// turn in one transaction, each body in a savepoint of its own (a failing
// body rolls back only its own changes), and commits once; each Write then
// returns its own body's status (or rethrows its own exception) after that
// commit. A failed commit fails every body of the group.
//
// Before each transaction and after each commit the store checks that the
// inventory's files are still those it opened (InventoryWatch). Once they
// are not, every Write and Read throws InventoryLostError with what
// happened, for as long as the store lives: a commit into a file that is no
// longer at its path would be lost at the next start, so it is never
// acknowledged.
#pragma once

#include "common/ServiceStatus.h"
#include "inventory/InventoryFile.h"
#include "inventory/InventoryQueries.h"
#include "inventory/InventoryWatch.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace zoscsi {

// The inventory's files were removed, replaced or emptied under the store.
class InventoryLostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

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
    // rollback; changed files throw InventoryLostError.
    ServiceStatus Write(const Body& body);
    // Runs `body` in a read transaction. Throws SqliteError or InventoryLostError.
    ServiceStatus Read(const Body& body);
    // Called after every commit of a write, before the next write's body
    // runs; it must not throw.
    void SetCommitHook(std::function<void()> hook) { m_commitHook = std::move(hook); }

    const std::string& path() const { return m_paths.database; }
    // Transactions committed so far (a group counts once), and the writes
    // waiting now for the one being written.
    long Commits() const { return m_commits.load(); }
    size_t WaitingWrites();

private:
    struct PendingWrite;

    void WriteGroup(const std::vector<PendingWrite*>& group);
    // Throws InventoryLostError once the files have changed.
    void Guard();
    std::unique_ptr<SqliteDb> TakeReader();
    void ReturnReader(std::unique_ptr<SqliteDb> reader);

    void Committed();

    InventoryPaths m_paths;
    std::function<void()> m_commitHook;
    std::mutex m_writeLock;  // guards the queue and who writes
    std::condition_variable m_written;
    std::vector<PendingWrite*> m_waiting;
    bool m_writing = false;
    std::atomic<long> m_commits{0};
    std::unique_ptr<SqliteDb> m_writer;
    InventoryWatch m_watch;  // recorded once m_writer has the files open
    std::atomic<bool> m_lost{false};
    std::mutex m_lostLock;
    std::string m_lostWhy;
    std::mutex m_readersLock;
    std::vector<std::unique_ptr<SqliteDb>> m_readers;  // idle read connections
};

}  // namespace zoscsi
