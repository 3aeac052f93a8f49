// An inventory that cannot be trusted is refused, never replaced by an
// empty one; a first start creates it.
#include "TempFolder.h"
#include "support/ReadAll.h"
#include "inventory/InventoryStore.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>

using namespace zoscsi;

namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string ReadFile(const std::string& path) { return zotest::ReadAll(path); }

void Sql(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

// Creates an inventory with one target and closes it again.
void MakeInventory(const std::string& folder) {
    InventoryStore store(folder);
    ASSERT_TRUE(store.Write([](InventoryQueries& q) {
                         q.InsertTarget(TargetRecord{"tgt01", "", 1});
                         return ServiceStatus::Ok();
                     }).ok());
}

std::string RefusalOf(const std::string& folder) {
    try {
        InventoryStore store(folder);
    } catch (const InventoryOpenError& error) {
        return error.what();
    }
    return "";
}

TEST(InventoryFile, AFirstStartCreatesTheInventoryAndItsMarker) {
    TempFolder folder;
    MakeInventory(folder.path());
    EXPECT_NE(ReadFile(folder / "inventory.created").find("inventory created"), std::string::npos);
    InventoryStore again(folder.path());
    int64_t targets = 0;
    ASSERT_TRUE(again.Read([&](InventoryQueries& q) {
                         targets = q.Counts().targets;
                         return ServiceStatus::Ok();
                     }).ok());
    EXPECT_EQ(targets, 1);
}

TEST(InventoryFile, ACrashBeforeTheMarkerStillStarts) {
    TempFolder folder;
    WriteFile(folder / "inventory.db", "");  // created, nothing committed
    EXPECT_EQ(RefusalOf(folder.path()), "");
}

TEST(InventoryFile, UntrustworthyFilesAreRefusedWithTheReason) {
    const struct {
        const char* name;
        std::function<void(const TempFolder&)> damage;
        const char* reason;
    } cases[] = {
        {"missing", [](const TempFolder& f) { std::remove((f / "inventory.db").c_str()); }, "is missing"},
        {"emptied", [](const TempFolder& f) { WriteFile(f / "inventory.db", ""); }, "is empty"},
        {"garbage", [](const TempFolder& f) { WriteFile(f / "inventory.db", std::string(8192, 'x')); }, "cannot be read"},
        {"truncated header",
         [](const TempFolder& f) { WriteFile(f / "inventory.db", ReadFile(f / "inventory.db").substr(0, 50)); },
         "cannot be read"},
        {"foreign database",
         [](const TempFolder& f) { Sql(f / "inventory.db", "PRAGMA application_id=7"); },
         "not an inventory"},
        {"newer schema", [](const TempFolder& f) { Sql(f / "inventory.db", "PRAGMA user_version=99"); }, "newer"},
        {"a folder in its place",
         [](const TempFolder& f) {
             std::remove((f / "inventory.db").c_str());
             std::filesystem::create_directory(f / "inventory.db");
         },
         "not a regular file"},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        MakeInventory(folder.path());
        c.damage(folder);
        const std::string refusal = RefusalOf(folder.path());
        EXPECT_NE(refusal.find(c.reason), std::string::npos) << c.name << ": " << refusal;
    }
}

TEST(InventoryFile, ADatabaseOfAnotherProgramIsRefused) {
    TempFolder folder;
    Sql(folder / "inventory.db", "CREATE TABLE other(x)");
    EXPECT_NE(RefusalOf(folder.path()).find("not an inventory"), std::string::npos);
}

}  // namespace
