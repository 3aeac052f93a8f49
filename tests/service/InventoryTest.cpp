// The inventory's rules over a real SQLite file and a fake backend.
#include "FakeBackend.h"
#include "TempFolder.h"
#include "inventory/Inventory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <thread>

using namespace zoscsi;
using namespace ZoScsiServer;

namespace {

constexpr int64_t kEpoch = 1700000000;

class InventoryTest : public ::testing::Test {
protected:
    void SetUp() override { Reopen(); }

    void Reopen(ListingLimits limits = DefaultListingLimits()) {
        inventory.reset();
        store.reset();
        store = std::make_unique<InventoryStore>(folder.path());
        inventory = std::make_unique<Inventory>(*store, backend, [] { return kEpoch; }, limits);
    }

    std::vector<std::string> Lines(const LunFilter& filter = {}) {
        std::vector<std::string> lines;
        EXPECT_TRUE(inventory->ListLuns(filter, lines).ok());
        return lines;
    }

    // Every record with every column that a mutation can change.
    std::vector<std::string> Dump() {
        std::vector<std::string> rows;
        EXPECT_TRUE(store->Read([&](InventoryQueries& q) {
                             const InventorySnapshot s = q.Snapshot();
                             for (const TargetRecord& t : s.targets) rows.push_back("target " + t.name + " " + t.params);
                             for (const LunRecord& l : s.luns)
                                 rows.push_back("lun " + l.target + "/" + std::to_string(l.id) + (l.open ? " open" : " closed"));
                             for (const MappingRecord& m : s.mappings)
                                 rows.push_back("map " + m.target + "/" + std::to_string(m.lun) + " " + m.host);
                             return ServiceStatus::Ok();
                         }).ok());
        return rows;
    }

    std::vector<std::string> Targets() {
        std::vector<std::string> names;
        EXPECT_TRUE(inventory->ListTargets(names).ok());
        return names;
    }

    int32_t NewLun(const std::string& target) {
        LunRecord lun;
        const ServiceStatus status = inventory->CreateLun(target, 1 << 20, 0, "-s 1M", lun);
        EXPECT_TRUE(status.ok()) << status.text;
        return lun.id;
    }

    TempFolder folder;
    FakeBackend backend;
    std::unique_ptr<InventoryStore> store;
    std::unique_ptr<Inventory> inventory;
};

TEST_F(InventoryTest, TargetsExistOnceAndGoOnlyWithoutLuns) {
    EXPECT_EQ(inventory->CreateTarget("tgt01", "").number, kErrNone);
    EXPECT_EQ(inventory->CreateTarget("tgt01", "").number, kErrAlreadyExists);
    EXPECT_EQ(inventory->DeleteTarget("nope").number, kErrNotFound);
    NewLun("tgt01");
    const ServiceStatus busy = inventory->DeleteTarget("tgt01");
    EXPECT_EQ(busy.number, kErrBusy);
    EXPECT_NE(busy.text.find("1 LUN"), std::string::npos) << busy.text;
    ASSERT_TRUE(inventory->DeleteLun("tgt01", 1).ok());
    EXPECT_EQ(inventory->DeleteTarget("tgt01").number, kErrNone);
    EXPECT_TRUE(Targets().empty());
}

TEST_F(InventoryTest, BadValuesAreRefusedAndNothingIsStored) {
    ASSERT_TRUE(inventory->CreateTarget("tgt01", "").ok());
    backend.ClearCalls();
    LunRecord lun;
    const std::vector<std::function<ServiceStatus()>> refused = {
        [&] { return inventory->CreateTarget("Tgt02", ""); },
        [&] { return inventory->CreateTarget("tgt#02", ""); },
        [&] { return inventory->CreateTarget("", ""); },
        [&] { return inventory->CreateTarget("tgt02", "a#b"); },
        [&] { return inventory->CreateTarget("tgt02", "line\nbreak"); },
        [&] { return inventory->CreateLun("tgt01", 512, 0, "x\ny", lun); },
        [&] { return inventory->OpenLun("tgt01", 0, lun); },
        [&] { return inventory->DeleteLun("tgt01", 16384); },
        [&] { return inventory->MapHost("tgt01", 1, "-host"); },
        [&] { return inventory->MapHost("tgt01", 1, "a b"); },
        [&] { return inventory->MapHost("TGT01", 1, "h1"); },
        [&] { return inventory->UnmapHost("tgt01", 1, "h#1"); },
    };
    for (size_t i = 0; i < refused.size(); ++i) EXPECT_EQ(refused[i]().number, kErrInvalidArgument) << "case " << i;
    EXPECT_EQ(Targets(), std::vector<std::string>{"tgt01"});
    EXPECT_TRUE(Lines().empty());
    EXPECT_TRUE(backend.Calls().empty());
}

TEST_F(InventoryTest, HostNamesThatAreNotUtf8AreRefusedWhereverTheyEnter) {
    ASSERT_TRUE(inventory->CreateTarget("tgt01", "").ok());
    NewLun("tgt01");
    const std::string latin1 = "h\xe9te";
    EXPECT_EQ(inventory->MapHost("tgt01", 1, latin1).number, kErrInvalidArgument);
    EXPECT_EQ(inventory->UnmapHost("tgt01", 1, latin1).number, kErrInvalidArgument);
    std::vector<std::string> lines;
    EXPECT_EQ(inventory->ListLuns(LunFilter{"", latin1}, lines).number, kErrInvalidArgument);
    EXPECT_TRUE(lines.empty());
    // A mapping stored before the rule can still be removed by its exact bytes.
    ASSERT_TRUE(store->Write([&](InventoryQueries& q) {
                         q.InsertMapping(MappingRecord{"tgt01", 1, latin1}, kEpoch);
                         return ServiceStatus::Ok();
                     }).ok());
    EXPECT_EQ(inventory->UnmapHost("tgt01", 1, latin1).number, kErrNone);
    EXPECT_EQ(Lines(), std::vector<std::string>{"tgt01#-#1#" + std::to_string(kEpoch)});
}

TEST_F(InventoryTest, LunsGetTheLowestFreeIdFromOne) {
    ASSERT_TRUE(inventory->CreateTarget("tgt01", "").ok());
    ASSERT_TRUE(inventory->CreateTarget("tgt02", "").ok());
    EXPECT_EQ(NewLun("tgt01"), 1);
    EXPECT_EQ(NewLun("tgt01"), 2);
    EXPECT_EQ(NewLun("tgt01"), 3);
    EXPECT_EQ(NewLun("tgt02"), 1);  // ids count per target
    ASSERT_TRUE(inventory->DeleteLun("tgt01", 2).ok());
    EXPECT_EQ(NewLun("tgt01"), 2);
    ASSERT_TRUE(inventory->DeleteLun("tgt01", 1).ok());
    ASSERT_TRUE(inventory->DeleteLun("tgt01", 3).ok());
    EXPECT_EQ(NewLun("tgt01"), 1);
    EXPECT_EQ(NewLun("tgt01"), 3);
    LunRecord lun;
    EXPECT_EQ(inventory->CreateLun("nope", 512, 0, "", lun).number, kErrNotFound);
}

TEST_F(InventoryTest, NoFreeIdIsALimitNotAnOverflow) {
    ASSERT_TRUE(inventory->CreateTarget("tgt01", "").ok());
    for (int i = 0; i < 3; ++i) NewLun("tgt01");
    int32_t free = -1;
    ASSERT_TRUE(store->Write([&](InventoryQueries& q) {
                         free = q.LowestFreeLunId("tgt01", 3);
                         return ServiceStatus::Ok();
                     }).ok());
    EXPECT_EQ(free, 0);
}

TEST_F(InventoryTest, ANewLunRecordsWhatItWasCreatedWith) {
    ASSERT_TRUE(inventory->CreateTarget("tgt01", "").ok());
    LunRecord lun;
    ASSERT_TRUE(inventory->CreateLun("tgt01", 8ull << 30, 77, "-s 8G", lun).ok());
    EXPECT_EQ(lun.name, "tgt01:lun1");
    EXPECT_EQ(lun.sizeBytes, 8ull << 30);
    EXPECT_EQ(lun.setting, 77u);
    EXPECT_TRUE(lun.open);
    InventorySnapshot snapshot;
    ASSERT_TRUE(store->Read([&](InventoryQueries& q) {
                         snapshot = q.Snapshot();
                         return ServiceStatus::Ok();
                     }).ok());
    ASSERT_EQ(snapshot.luns.size(), 1u);
    EXPECT_EQ(snapshot.luns[0].options, "-s 8G");
    EXPECT_EQ(snapshot.luns[0].created, kEpoch);
}

TEST_F(InventoryTest, CloseKeepsTheLunAndOpenBringsItBack) {
    ASSERT_TRUE(inventory->CreateTarget("tgt01", "").ok());
    NewLun("tgt01");
    ASSERT_TRUE(inventory->MapHost("tgt01", 1, "h1").ok());
    backend.ClearCalls();
    EXPECT_TRUE(inventory->CloseLun("tgt01", 1).ok());
    EXPECT_TRUE(inventory->CloseLun("tgt01", 1).ok());  // already closed: nothing more to do
    EXPECT_EQ(Lines(), std::vector<std::string>{"tgt01#h1#1#1700000000"});
    LunRecord lun;
    ASSERT_TRUE(inventory->OpenLun("tgt01", 1, lun).ok());
    EXPECT_EQ(lun.name, "tgt01:lun1");
    EXPECT_TRUE(lun.open);
    ASSERT_TRUE(inventory->OpenLun("tgt01", 1, lun).ok());  // open: answered as it is
    EXPECT_EQ(backend.Calls(), (std::vector<std::string>{"CloseLun tgt01/1 closed", "OpenLun tgt01/1 open"}));
    EXPECT_EQ(inventory->OpenLun("tgt01", 2, lun).number, kErrNotFound);
    EXPECT_EQ(inventory->OpenLun("tgt09", 1, lun).number, kErrNotFound);
    EXPECT_EQ(inventory->CloseLun("tgt01", 2).number, kErrNotFound);
}

TEST_F(InventoryTest, AMappedLunCannotBeDeleted) {
    ASSERT_TRUE(inventory->CreateTarget("tgt01", "").ok());
    NewLun("tgt01");
    ASSERT_TRUE(inventory->MapHost("tgt01", 1, "h1").ok());
    const ServiceStatus busy = inventory->DeleteLun("tgt01", 1);
    EXPECT_EQ(busy.number, kErrBusy);
    EXPECT_NE(busy.text.find("\"h1\""), std::string::npos) << busy.text;
    ASSERT_TRUE(inventory->UnmapHost("tgt01", 1, "h1").ok());
    EXPECT_TRUE(inventory->DeleteLun("tgt01", 1).ok());
    EXPECT_EQ(inventory->DeleteLun("tgt01", 1).number, kErrNotFound);
    EXPECT_TRUE(Lines().empty());
}

TEST_F(InventoryTest, MappingsExistOnceAndTheBackendSeesTheHostsAfter) {
    ASSERT_TRUE(inventory->CreateTarget("tgt01", "").ok());
    NewLun("tgt01");
    backend.ClearCalls();
    EXPECT_EQ(inventory->MapHost("tgt01", 1, "hb").number, kErrNone);
    EXPECT_EQ(inventory->MapHost("tgt01", 1, "ha").number, kErrNone);
    EXPECT_EQ(inventory->MapHost("tgt01", 1, "ha").number, kErrAlreadyExists);
    EXPECT_EQ(inventory->MapHost("tgt01", 1, "HA").number, kErrNone);  // host names keep their case
    EXPECT_EQ(inventory->MapHost("tgt01", 2, "ha").number, kErrNotFound);
    EXPECT_EQ(inventory->UnmapHost("tgt01", 1, "hc").number, kErrNotFound);
    EXPECT_EQ(inventory->UnmapHost("tgt01", 1, "hb").number, kErrNone);
    EXPECT_EQ(inventory->UnmapHost("tgt01", 1, "hb").number, kErrNotFound);
    EXPECT_EQ(backend.Calls(), (std::vector<std::string>{
                                   "MapHost tgt01/1 open hb [hb]",
                                   "MapHost tgt01/1 open ha [ha,hb]",
                                   "MapHost tgt01/1 open HA [HA,ha,hb]",
                                   "UnmapHost tgt01/1 open hb [HA,ha]",
                               }));
}

struct FailingCall {
    const char* backendCall;
    std::function<ServiceStatus(Inventory&)> operation;
};

TEST_F(InventoryTest, ABackendRefusalRollsEverythingBack) {
    ASSERT_TRUE(inventory->CreateTarget("tgt01", "").ok());
    NewLun("tgt01");
    NewLun("tgt01");
    ASSERT_TRUE(inventory->MapHost("tgt01", 2, "h1").ok());
    ASSERT_TRUE(inventory->CloseLun("tgt01", 2).ok());
    const std::vector<std::string> before = Dump();
    LunRecord lun;
    const FailingCall cases[] = {
        {"CreateTarget", [](Inventory& i) { return i.CreateTarget("tgt02", ""); }},
        {"DeleteTarget", [](Inventory& i) {
             EXPECT_TRUE(i.CreateTarget("tgt03", "").ok());
             return i.DeleteTarget("tgt03");
         }},
        {"CreateLun", [&](Inventory& i) { return i.CreateLun("tgt01", 512, 0, "", lun); }},
        {"OpenLun", [&](Inventory& i) { return i.OpenLun("tgt01", 2, lun); }},
        {"CloseLun", [](Inventory& i) { return i.CloseLun("tgt01", 1); }},
        {"DeleteLun", [](Inventory& i) { return i.DeleteLun("tgt01", 1); }},
        {"MapHost", [](Inventory& i) { return i.MapHost("tgt01", 1, "h2"); }},
        {"UnmapHost", [](Inventory& i) { return i.UnmapHost("tgt01", 2, "h1"); }},
    };
    for (const FailingCall& c : cases) {
        backend.failOn = c.backendCall;
        backend.ClearCalls();
        const ServiceStatus status = c.operation(*inventory);
        EXPECT_EQ(status.number, kErrBackend) << c.backendCall;
        EXPECT_NE(status.text.find("refused by the fake"), std::string::npos) << status.text;
        // The records are as before and the backend was brought back in line.
        ASSERT_FALSE(backend.Calls().empty());
        EXPECT_EQ(backend.Calls().back(), "Resync 2") << c.backendCall;
        backend.failOn.clear();
        if (std::string(c.backendCall) == "DeleteTarget") {
            ASSERT_TRUE(inventory->DeleteTarget("tgt03").ok());
        }
        EXPECT_EQ(Dump(), before) << c.backendCall;
    }
}

TEST_F(InventoryTest, ABackendRefusalKeepsTheErrorNumberItNames) {
    ASSERT_TRUE(inventory->CreateTarget("tgt01", "").ok());
    NewLun("tgt01");
    backend.failOn = "MapHost";
    backend.failNumber = kErrLimit;
    const ServiceStatus status = inventory->MapHost("tgt01", 1, "h1");
    EXPECT_EQ(status.number, kErrLimit);
    EXPECT_EQ(status.text, "backend fake refused to map LUN 1 of target tgt01 to \"h1\": refused by the fake");
    EXPECT_EQ(backend.Calls().back(), "MapHost tgt01/1 open h1 [h1]") << "nothing to resynchronise after it";
}

TEST_F(InventoryTest, ABackendThatThrowsIsARefusal) {
    backend.throwOn = "CreateTarget";
    const ServiceStatus status = inventory->CreateTarget("tgt01", "");
    EXPECT_EQ(status.number, kErrBackend);
    EXPECT_NE(status.text.find("the fake threw"), std::string::npos) << status.text;
    EXPECT_TRUE(Targets().empty());
}

TEST_F(InventoryTest, ABackendNotYetStartedIsStartedBeforeTheNextChange) {
    EXPECT_FALSE(inventory->started());
    backend.failOn = "Start";
    const ServiceStatus refused = inventory->CreateTarget("tgt01", "");
    EXPECT_EQ(refused.number, kErrBackend);
    EXPECT_TRUE(Targets().empty());
    backend.failOn.clear();
    backend.ClearCalls();
    EXPECT_TRUE(inventory->CreateTarget("tgt01", "").ok());
    EXPECT_EQ(backend.Calls(), (std::vector<std::string>{"Start 1", "CreateTarget tgt01"}));
    EXPECT_TRUE(inventory->started());
    EXPECT_EQ(inventory->Start(2).number, kErrInvalidArgument);
}

// While the backend restores its exports, changes are refused as busy with
// its progress (after the backend's own bounded wait), listings are served,
// and a start or reload answers with the same refusal.
TEST_F(InventoryTest, ChangesWaitForARestoringBackendListingsDoNot) {
    ASSERT_TRUE(inventory->CreateTarget("t1", "").ok());
    backend.ClearCalls();
    backend.ready = BackendStatus::Refuse(kErrBusy, "restoring exports: 3 of 10 done");
    for (const ServiceStatus& refused : {inventory->CreateTarget("t2", ""), inventory->DeleteTarget("t1"),
                                         inventory->Start(ISCSI), inventory->Resync()}) {
        EXPECT_EQ(refused.number, kErrBusy);
        EXPECT_NE(refused.text.find(": restoring exports: 3 of 10 done"), std::string::npos) << refused.text;
    }
    EXPECT_EQ(inventory->CreateTarget("t2", "").text,
              "backend fake refused to create a target: restoring exports: 3 of 10 done");
    EXPECT_TRUE(backend.Calls().empty()) << "nothing reached the backend";
    EXPECT_EQ(Targets(), std::vector<std::string>{"t1"});
    EXPECT_EQ(inventory->backendState(), "restoring exports: 3 of 10 done");
    EXPECT_TRUE(inventory->Start(ISCSI, false).ok()) << "the service's own start does not wait";

    backend.ready = BackendStatus::Fail("the restore failed");  // the change itself tries again
    EXPECT_TRUE(inventory->CreateTarget("t2", "").ok());
    EXPECT_EQ(inventory->Start(ISCSI).number, kErrBackend);
}

// Committed follows each committed change; a refused one is rolled back
// and only the resynchronisation after it commits.
TEST_F(InventoryTest, TheBackendHearsOfEachCommitAndOfNoRollback) {
    backend.ClearCalls();
    ASSERT_TRUE(inventory->CreateTarget("t1", "").ok());
    backend.failOn = "CreateTarget";
    EXPECT_FALSE(inventory->CreateTarget("t2", "").ok());
    EXPECT_EQ(backend.Calls(), (std::vector<std::string>{"Start 1", "CreateTarget t1", "CreateTarget t2", "Resync 0"}));
    EXPECT_EQ(backend.CommitsAfter(), (std::vector<size_t>{2, 4}));
}

TEST_F(InventoryTest, StartAndResyncHandTheBackendTheWholeInventory) {
    ASSERT_TRUE(inventory->CreateTarget("tgt01", "").ok());
    NewLun("tgt01");
    NewLun("tgt01");
    EXPECT_TRUE(inventory->Start(ISCSI).ok());
    EXPECT_EQ(backend.lastSnapshotLuns, 2u);
    EXPECT_TRUE(inventory->Resync().ok());
    EXPECT_EQ(backend.Calls().back(), "Resync 2");
}

TEST_F(InventoryTest, ListingsAreFilteredExactlyAndOrdered) {
    ASSERT_TRUE(inventory->CreateTarget("tgt02", "").ok());
    ASSERT_TRUE(inventory->CreateTarget("tgt01", "").ok());
    NewLun("tgt01");
    NewLun("tgt01");
    NewLun("tgt02");
    ASSERT_TRUE(inventory->MapHost("tgt01", 1, "hb").ok());
    ASSERT_TRUE(inventory->MapHost("tgt01", 1, "ha").ok());
    ASSERT_TRUE(inventory->MapHost("tgt02", 1, "ha").ok());
    const struct {
        LunFilter filter;
        std::vector<std::string> lines;
    } cases[] = {
        {{"", ""}, {"tgt01#ha#1#1700000000", "tgt01#hb#1#1700000000", "tgt01#-#2#1700000000", "tgt02#ha#1#1700000000"}},
        {{"tgt01", ""}, {"tgt01#ha#1#1700000000", "tgt01#hb#1#1700000000", "tgt01#-#2#1700000000"}},
        {{"", "ha"}, {"tgt01#ha#1#1700000000", "tgt02#ha#1#1700000000"}},
        {{"tgt02", "ha"}, {"tgt02#ha#1#1700000000"}},
        {{"tgt02", "hb"}, {}},
        {{"Tgt01", ""}, {}},
        {{"", "HA"}, {}},
        {{"nope", ""}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Lines(c.filter), c.lines) << "-ti " << c.filter.target << " -hi " << c.filter.host;
    EXPECT_EQ(Targets(), (std::vector<std::string>{"tgt01", "tgt02"}));
}

// The text of a refusal for the listing limits, or what happened instead.
std::string LimitText(const ServiceStatus& status) {
    return status.number == kErrLimit ? status.text : "answered " + std::to_string(status.number) + " " + status.text;
}

TEST_F(InventoryTest, TheFullListingStaysWithinItsLineLimit) {
    Reopen(ListingLimits{3, 1 << 20});
    ASSERT_TRUE(inventory->CreateTarget("t", "").ok());
    for (int i = 0; i < 3; ++i) NewLun("t");
    LunRecord lun;
    EXPECT_NE(LimitText(inventory->CreateLun("t", 1 << 20, 0, "", lun)).find("4 lines, above its limit of 3"),
              std::string::npos);
    EXPECT_TRUE(inventory->MapHost("t", 1, "h1").ok());  // its line takes the place of the unmapped one
    EXPECT_NE(LimitText(inventory->MapHost("t", 1, "h2")).find("mapping LUN 1 of target t to \"h2\""), std::string::npos);
    ASSERT_TRUE(inventory->UnmapHost("t", 1, "h1").ok());
    ASSERT_TRUE(inventory->DeleteLun("t", 3).ok());
    EXPECT_EQ(NewLun("t"), 3);
    EXPECT_EQ(Lines().size(), 3u);
}

TEST_F(InventoryTest, TheFullListingsBytesAreCountedToTheByte) {
    ASSERT_TRUE(inventory->CreateTarget("t", "").ok());
    NewLun("t");
    // The mapped line replaces the unmapped one; its '&' goes out as "&amp;".
    const std::string host = std::string(222, 'h') + "&";
    const int64_t limit = ListingSize::Of("t#" + host + "#1#1700000000").bytes;
    Reopen(ListingLimits{100, limit});
    backend.failOn = "MapHost";
    EXPECT_EQ(inventory->MapHost("t", 1, host).number, kErrBackend);  // the count is rolled back with it
    backend.failOn.clear();
    EXPECT_TRUE(inventory->MapHost("t", 1, host).ok()) << "exactly at the limit";
    EXPECT_NE(LimitText(inventory->MapHost("t", 1, "x")).find("bytes, above its limit of " + std::to_string(limit)),
              std::string::npos);
    Reopen(ListingLimits{100, limit});  // counted again from the records
    EXPECT_EQ(inventory->MapHost("t", 1, "x").number, kErrLimit);
    ASSERT_TRUE(inventory->UnmapHost("t", 1, host).ok());
    EXPECT_TRUE(inventory->MapHost("t", 1, "x").ok());
}

TEST_F(InventoryTest, DetailedListingPagesEndBetweenLuns) {
    ASSERT_TRUE(inventory->CreateTarget("t", "").ok());
    for (int i = 0; i < 3; ++i) NewLun("t");
    ASSERT_TRUE(inventory->MapHost("t", 2, "h1").ok());
    ASSERT_TRUE(inventory->MapHost("t", 2, "h2").ok());
    ASSERT_TRUE(inventory->MapHost("t", 3, "h1").ok());
    ASSERT_TRUE(inventory->CloseLun("t", 3).ok());
    const std::string t = "#1700000000#1048576#";
    const std::vector<std::vector<std::string>> pages = {
        {"t#-#1" + t + "open#-"},
        {"t#h1#2" + t + "open#fake:t/h1", "t#h2#2" + t + "open#fake:t/h2"},
        {"t#h1#3" + t + "closed#-"},
    };
    LunKey from;
    for (const auto& expected : pages) {
        std::vector<std::string> lines;
        LunKey next;
        ASSERT_TRUE(inventory->ListLunDetails({}, from, 1, lines, next).ok());
        EXPECT_EQ(lines, expected);
        from = next;
    }
    EXPECT_EQ(from.target, "") << "the last page names no next LUN";
}

TEST_F(InventoryTest, EverythingSurvivesAReopen) {
    ASSERT_TRUE(inventory->CreateTarget("tgt01", "portal=1").ok());
    NewLun("tgt01");
    NewLun("tgt01");
    ASSERT_TRUE(inventory->MapHost("tgt01", 2, "h1").ok());
    ASSERT_TRUE(inventory->CloseLun("tgt01", 1).ok());
    const std::vector<std::string> before = Dump();
    const std::vector<std::string> lines = Lines();
    Reopen();
    EXPECT_EQ(Dump(), before);
    EXPECT_EQ(Lines(), lines);
    EXPECT_EQ(NewLun("tgt01"), 3);
    LunRecord lun;
    EXPECT_TRUE(inventory->OpenLun("tgt01", 1, lun).ok());
}

TEST_F(InventoryTest, ParallelCreatorsGetDistinctIds) {
    ASSERT_TRUE(inventory->CreateTarget("tgt01", "").ok());
    constexpr int kThreads = 8;
    constexpr int kEach = 10;
    std::vector<std::thread> threads;
    std::vector<std::vector<int32_t>> ids(kThreads);
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                LunRecord lun;
                if (inventory->CreateLun("tgt01", 512, 0, "", lun).ok()) ids[t].push_back(lun.id);
                else ++failures;
                std::vector<std::string> lines;
                if (!inventory->ListLuns({}, lines).ok()) ++failures;
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    std::set<int32_t> all;
    for (const auto& list : ids) all.insert(list.begin(), list.end());
    EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
    EXPECT_EQ(*all.rbegin(), kThreads * kEach);
    EXPECT_EQ(Lines().size(), static_cast<size_t>(kThreads * kEach));
}

}  // namespace
