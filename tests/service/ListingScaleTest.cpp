// A listing of 100,000 LUNs: one query, one answer within the frame limit.
// Prints what it took; the budget itself is a benchmark's business.
#include "FakeBackend.h"
#include "TempFolder.h"
#include "WireMessages.h"
#include "protocol/Dispatcher.h"
#include "zo/Limits.h"
#include "zo/XmlCodec.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>

using namespace zoscsi;
namespace W = ZoScsiServer::Wire;

namespace {

constexpr int kTargets = 10;
constexpr int kLunsPerTarget = 10000;

// Fills an inventory in one transaction, straight through SQLite: 10 targets
// of 10,000 LUNs, every tenth LUN mapped to one host.
void Fill(const std::string& database) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
    const char* sql = R"sql(
        BEGIN;
        WITH RECURSIVE t(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM t WHERE i < 9)
          INSERT INTO targets SELECT printf('iqn.2024-01.com.example:target%02d', i), '', 1700000000 FROM t;
        WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000)
          INSERT INTO luns SELECT targets.name, n.i, targets.name || ':lun' || n.i, 1048576, 0, '', 1, 1700000000 + n.i
          FROM targets, n;
        INSERT INTO mappings SELECT target, id, 'iqn.1993-08.org.debian:01:host' || (id % 7), 1 FROM luns WHERE id % 10 = 0;
        COMMIT;)sql";
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

double MillisSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

TEST(ListingScale, HundredThousandLunsInOneAnswer) {
    TempFolder folder;
    { InventoryStore create(folder.path()); }
    Fill(folder / "inventory.db");
    InventoryStore store(folder.path());
    FakeBackend backend;
    Inventory inventory(store, backend);
    ServiceCore core(inventory, ServiceIdentity{"node1", "1", 1, 0}, LunSizeSettings());
    const size_t frameLimit = zo::DecodeLimits().maxFrameBytes;
    Dispatcher dispatcher(core, frameLimit);

    auto start = std::chrono::steady_clock::now();
    std::vector<std::string> lines;
    ASSERT_TRUE(inventory.ListLuns({}, lines).ok());
    const double queryMillis = MillisSince(start);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kTargets * kLunsPerTarget));
    EXPECT_EQ(lines.front(), "iqn.2024-01.com.example:target00#-#1#1700000001");
    EXPECT_EQ(lines[9], "iqn.2024-01.com.example:target00#iqn.1993-08.org.debian:01:host3#10#1700000010");
    EXPECT_EQ(lines.back(), "iqn.2024-01.com.example:target09#iqn.1993-08.org.debian:01:host4#10000#1700010000");

    start = std::chrono::steady_clock::now();
    std::unique_ptr<CNMessageBase> answer = dispatcher.Handle(wire::Ioctl("ll", "-h node1").message());
    const double answerMillis = MillisSince(start);
    ASSERT_EQ(wire::ErrorNumber(*answer, W::kIoctl), 0) << wire::ErrorText(*answer, W::kIoctl);
    EXPECT_EQ(wire::Output(*answer).size(), lines.size());
    std::string encoded;
    start = std::chrono::steady_clock::now();
    zo::EncodeMessage(*answer, encoded);
    const double encodeMillis = MillisSince(start);
    EXPECT_LE(encoded.size(), frameLimit);

    start = std::chrono::steady_clock::now();
    answer = dispatcher.Handle(wire::Ioctl("llh", "-h node1 -llh -hi iqn.1993-08.org.debian:01:host3").message());
    const double filteredMillis = MillisSince(start);
    EXPECT_EQ(wire::Output(*answer).size(), 1430u);

    std::printf("100000 LUNs: query %.1f ms; dispatch (query, answer, size check) %.1f ms; encode %.1f ms, %zu bytes; "
                "by host %.1f ms\n",
                queryMillis, answerMillis, encodeMillis, encoded.size(), filteredMillis);
    RecordProperty("query_ms", std::to_string(queryMillis));
    RecordProperty("dispatch_ms", std::to_string(answerMillis));
}

}  // namespace
