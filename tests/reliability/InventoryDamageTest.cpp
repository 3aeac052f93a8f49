// A damaged or missing inventory after it once existed: the service stops
// with exit status 74 and a log line that says what is wrong, or (for damage
// that SQLite mends itself) starts with the last good state; it never starts
// with an empty inventory in place of a lost one.
#include "ServiceClient.h"
#include "ServiceProcess.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <random>

using namespace zorel;

namespace {

constexpr int kExitInventory = 74;
constexpr int kLuns = 60;

// A service whose inventory holds one target with kLuns LUNs, stopped.
class InventoryDamage : public ::testing::Test {
protected:
    void SetUp() override {
        service = std::make_unique<ServiceProcess>(ServiceOptions{});
        std::string error;
        ASSERT_TRUE(service->Start(error)) << error;
        PointRegistryAt(*service);
        std::unique_ptr<ZoScsiSrvClient> client = Attach(error);
        ASSERT_NE(client, nullptr) << error;
        ASSERT_EQ(Classify(client->AddTarget(TargetRequest("kept"))).kind, Outcome::Done);
        for (int i = 0; i < kLuns; ++i) {
            std::string name;
            int32_t id = 0;
            auto request = LunRequest("kept");
            ASSERT_EQ(Classify(client->CreateLun(request, name, id)).kind, Outcome::Done);
        }
        client.reset();
        ASSERT_EQ(service->Stop(), 0) << service->logText();
    }

    // Starts it again: the exit status when it stopped, or 0 with the number
    // of LUNs it lists when it serves.
    int Restart(size_t& luns) {
        std::string error;
        if (!service->Start(error, std::chrono::milliseconds(10000))) return service->RunToExit();
        std::unique_ptr<ZoScsiSrvClient> client = Attach(error);
        InventoryView view;
        EXPECT_TRUE(client && ReadInventory(*client, view, error)) << error;
        luns = view["kept"].size();
        return 0;
    }

    std::unique_ptr<ServiceProcess> service;
};

void Overwrite(const std::string& path, off_t offset, size_t length) {
    std::mt19937 random(7);
    std::string noise(length, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::pwrite(fd, noise.data(), noise.size(), offset), static_cast<ssize_t>(noise.size()));
    ::close(fd);
}

void Sql(const std::string& path, const char* statement) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, statement, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

struct Damage {
    const char* name;
    std::function<void(const ServiceProcess&)> apply;
    const char* says;  // part of the log line when it stops; null: it must serve the whole inventory
};

TEST_F(InventoryDamage, StopsWithAClearErrorOrKeepsTheLastGoodStateButNeverStartsEmpty) {
    const Damage damages[] = {
        {"database removed", [](const ServiceProcess& s) { std::filesystem::remove(s.inventoryPath()); }, "missing"},
        {"database emptied", [](const ServiceProcess& s) { std::filesystem::resize_file(s.inventoryPath(), 0); },
         "empty"},
        {"database replaced by a folder",
         [](const ServiceProcess& s) {
             std::filesystem::remove(s.inventoryPath());
             std::filesystem::create_directory(s.inventoryPath());
         },
         "not a regular file"},
        {"header overwritten", [](const ServiceProcess& s) { Overwrite(s.inventoryPath(), 0, 100); },
         "cannot be read"},
        {"pages overwritten", [](const ServiceProcess& s) { Overwrite(s.inventoryPath(), 4096, 8192); },
         "inventory"},
        {"cut in half",
         [](const ServiceProcess& s) {
             std::filesystem::resize_file(s.inventoryPath(), std::filesystem::file_size(s.inventoryPath()) / 2);
         },
         "inventory"},
        {"another program's database",
         [](const ServiceProcess& s) {
             std::filesystem::remove(s.inventoryPath());
             Sql(s.inventoryPath(), "CREATE TABLE notes(text TEXT); INSERT INTO notes VALUES('x');");
         },
         "not an inventory"},
        {"a newer schema", [](const ServiceProcess& s) { Sql(s.inventoryPath(), "PRAGMA user_version=99"); },
         "newer"},
        {"stale write-ahead log and index",
         [](const ServiceProcess& s) {
             Overwrite(s.inventoryPath() + "-wal", 0, 4096);
             Overwrite(s.inventoryPath() + "-shm", 0, 4096);
         },
         nullptr},
        {"creation marker removed (the database is kept)",
         [](const ServiceProcess& s) { std::filesystem::remove(s.stateFolder() + "/inventory.created"); }, nullptr},
    };
    const std::string pristine = service->options().folder + "/pristine";
    std::filesystem::copy(service->stateFolder(), pristine, std::filesystem::copy_options::recursive);
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        std::filesystem::remove_all(service->stateFolder());
        std::filesystem::copy(pristine, service->stateFolder(), std::filesystem::copy_options::recursive);
        damage.apply(*service);
        const uintmax_t logBefore = std::filesystem::file_size(service->options().folder + "/service.log");
        size_t luns = 0;
        const int status = Restart(luns);
        const std::string log = service->logText().substr(logBefore);
        if (damage.says) {
            EXPECT_EQ(status, kExitInventory) << log;
            EXPECT_NE(log.find(damage.says), std::string::npos) << log;
            EXPECT_NE(log.find("inventory"), std::string::npos) << log;
        } else {
            EXPECT_EQ(status, 0) << log;
            EXPECT_EQ(luns, static_cast<size_t>(kLuns)) << "the last good state, whole";
        }
        service->Kill();
    }
}

}  // namespace
