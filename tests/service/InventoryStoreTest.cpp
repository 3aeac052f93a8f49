// Writes of the inventory store from many threads: each is committed, and
// writes that wait while another is written share one commit, each in a
// savepoint of its own.
#include "TempFolder.h"
#include "inventory/InventoryStore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace zoscsi;

namespace {

InventoryStore::Body Insert(const std::string& name) {
    return [name](InventoryQueries& q) {
        q.InsertTarget(TargetRecord{name, "", 1});
        return ServiceStatus::Ok();
    };
}

bool Exists(InventoryStore& store, const std::string& name) {
    bool found = false;
    store.Read([&](InventoryQueries& q) {
        found = q.FindTarget(name).has_value();
        return ServiceStatus::Ok();
    });
    return found;
}

// Waits (bounded, so a fault cannot hang the run) until `condition` holds.
bool Eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 30000 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return condition();
}

}  // namespace

TEST(InventoryStore, ConcurrentWritesAreAllCommitted) {
    TempFolder folder;
    InventoryStore store(folder.path());
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int t = 0; t < 8; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i)
                if (!store.Write(Insert("t" + std::to_string(t) + "-" + std::to_string(i))).ok()) ++failures;
        });
    for (std::thread& writer : writers) writer.join();
    EXPECT_EQ(failures.load(), 0);
    for (int t = 0; t < 8; ++t)
        for (int i = 0; i < 10; ++i) EXPECT_TRUE(Exists(store, "t" + std::to_string(t) + "-" + std::to_string(i)));
    EXPECT_LE(store.Commits(), 80);
    EXPECT_GE(store.Commits(), 1);
}

TEST(InventoryStore, WritesWaitingTogetherShareOneCommitAndKeepTheirOwnOutcome) {
    TempFolder folder;
    InventoryStore store(folder.path());
    const long before = store.Commits();
    std::vector<std::thread> others;
    // The first write holds the store until three more wait behind it.
    const ServiceStatus first = store.Write([&](InventoryQueries& q) {
        q.InsertTarget(TargetRecord{"first", "", 1});
        others.emplace_back([&] {
            const ServiceStatus refused = store.Write([](InventoryQueries& q) {
                q.InsertTarget(TargetRecord{"refused", "", 1});
                return NotFound("no such thing");
            });
            EXPECT_EQ(refused.number, ZoScsiServer::kErrNotFound);
            EXPECT_EQ(refused.text, "no such thing");
        });
        others.emplace_back([&] {
            EXPECT_THROW(store.Write([](InventoryQueries& q) -> ServiceStatus {
                q.InsertTarget(TargetRecord{"thrown", "", 1});
                throw std::runtime_error("body failed");
            }),
                         std::runtime_error);
        });
        others.emplace_back([&] { EXPECT_TRUE(store.Write(Insert("kept")).ok()); });
        EXPECT_TRUE(Eventually([&] { return store.WaitingWrites() == 3; }));
        return ServiceStatus::Ok();
    });
    EXPECT_TRUE(first.ok());
    for (std::thread& other : others) other.join();

    EXPECT_EQ(store.Commits() - before, 2) << "the first alone, then the three waiting ones together";
    EXPECT_TRUE(Exists(store, "first"));
    EXPECT_TRUE(Exists(store, "kept"));
    EXPECT_FALSE(Exists(store, "refused")) << "a refused write's changes are rolled back";
    EXPECT_FALSE(Exists(store, "thrown")) << "a failed write's changes are rolled back";
}

TEST(InventoryStore, AGroupOfOnlyRefusedWritesCommitsNothing) {
    TempFolder folder;
    InventoryStore store(folder.path());
    const long before = store.Commits();
    std::vector<std::thread> others;
    ASSERT_TRUE(store.Write([&](InventoryQueries&) {
                         for (int i = 0; i < 2; ++i)
                             others.emplace_back([&, i] {
                                 const ServiceStatus status = store.Write([i](InventoryQueries& q) {
                                     q.InsertTarget(TargetRecord{"no" + std::to_string(i), "", 1});
                                     return Busy("busy");
                                 });
                                 EXPECT_EQ(status.number, ZoScsiServer::kErrBusy);
                             });
                         EXPECT_TRUE(Eventually([&] { return store.WaitingWrites() == 2; }));
                         return ServiceStatus::Ok();
                     }).ok());
    for (std::thread& other : others) other.join();
    EXPECT_EQ(store.Commits() - before, 1) << "only the first write committed";
    EXPECT_FALSE(Exists(store, "no0"));
    EXPECT_FALSE(Exists(store, "no1"));
    // The store still writes afterwards.
    EXPECT_TRUE(store.Write(Insert("after")).ok());
    EXPECT_TRUE(Exists(store, "after"));
}

TEST(InventoryStore, FilesRemovedReplacedOrEmptiedUnderneathStopEveryLaterRequest) {
    using Damage = std::function<void(const std::string& db)>;
    const auto copyOver = [](const std::string& from, const std::string& to) {
        std::filesystem::copy_file(from, to + ".copy");
        std::filesystem::rename(to + ".copy", to);
    };
    const std::pair<const char*, Damage> damages[] = {
        {"removed", [](const std::string& db) { std::filesystem::remove(db); }},
        {"replaced", [&](const std::string& db) { copyOver(db, db); }},
        {"replaced",  // moved away and copied back: the open file keeps a name
         [&](const std::string& db) {
             std::filesystem::rename(db, db + ".moved");
             copyOver(db + ".moved", db);
         }},
        {"emptied", [](const std::string& db) { std::filesystem::resize_file(db, 0); }},
        {"-wal was removed", [](const std::string& db) { std::filesystem::remove(db + "-wal"); }},
        {"-wal was emptied", [](const std::string& db) { std::filesystem::resize_file(db + "-wal", 0); }},
        {"-shm was removed", [](const std::string& db) { std::filesystem::remove(db + "-shm"); }},
    };
    for (const auto& damage : damages) {
        SCOPED_TRACE(damage.first);
        TempFolder folder;
        InventoryStore store(folder.path());
        ASSERT_TRUE(store.Write(Insert("before")).ok());
        // Readers beyond the idle pool come and go without tripping the check.
        std::vector<std::thread> readers;
        for (int i = 0; i < 12; ++i)
            readers.emplace_back([&] {
                store.Read([](InventoryQueries&) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    return ServiceStatus::Ok();
                });
            });
        for (std::thread& reader : readers) reader.join();
        ASSERT_TRUE(store.Write(Insert("still")).ok());

        damage.second(store.path());
        bool ran = false;
        try {
            store.Write([&](InventoryQueries& q) {
                ran = true;
                return Insert("after")(q);
            });
            ADD_FAILURE() << "a write into lost files was acknowledged";
        } catch (const InventoryLostError& lost) {
            EXPECT_NE(std::string(lost.what()).find(damage.first), std::string::npos) << lost.what();
        }
        EXPECT_FALSE(ran) << "nothing is carried out for a change that cannot last";
        EXPECT_THROW(store.Read([](InventoryQueries&) { return ServiceStatus::Ok(); }), InventoryLostError);
        EXPECT_THROW(store.Write(Insert("later")), InventoryLostError) << "and it stays refused";
    }
    // Removed while a change is being written: its commit is checked too.
    TempFolder folder;
    InventoryStore store(folder.path());
    EXPECT_THROW(store.Write([&](InventoryQueries& q) {
        std::filesystem::remove(store.path());
        return Insert("racing")(q);
    }),
                 InventoryLostError);
}
