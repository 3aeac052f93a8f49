// Where the service cannot be sure, it refuses with its reason rather than
// guess: a malformed or misspelt configuration, a state folder another user
// could change, a state root whose disk is not mounted, an inventory removed
// or replaced under a running instance. Nothing acknowledged is lost in any
// of these, and none ends in a silent success.
#include "RawPeer.h"
#include "ServiceClient.h"
#include "ServiceProcess.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

using namespace zorel;

namespace {

constexpr int kExitInventory = 74;
constexpr int kExitConfig = 78;
namespace W = ZoScsiServer::Wire;

struct Answer {
    long long number = -1;
    std::string text;
    std::vector<std::string> lines;
};

// One command word on a connection of its own.
Answer Command(const ServiceProcess& service, const std::string& word) {
    Answer answer;
    RawPeer peer;
    if (!peer.Connect(service.socketPath()) || !peer.Handshake(service.options().session) ||
        !peer.SendMessage(*IoctlRequest(word, "")))
        return answer;
    const std::unique_ptr<CNMessageBase> reply = peer.Read();
    const CNField* status = reply ? reply->FindField(W::kIoctl.responseType, W::kStatusKey) : nullptr;
    if (!status || !status->object) return answer;
    const CNField* number = status->object->FindField(W::kStatusType, W::kStatusErrorNumber.key);
    const CNField* text = status->object->FindField(W::kStatusType, W::kStatusErrorText.key);
    answer.number = number ? number->i64 : -1;
    answer.text = text ? text->str : "";
    if (const CNField* lines = reply->FindField(W::kIoctl.responseType, W::kIoctlOutput.key)) answer.lines = lines->list;
    return answer;
}

}  // namespace

TEST(FailClosed, AStartThatCannotBeSureStopsWithItsReason) {
    const struct {
        const char* what;
        std::function<void(ServiceOptions&)> arrange;
        int status;
        const char* says;
    } cases[] = {
        {"a line without '='", [](ServiceOptions& o) { o.configTail = "Backend tgt\n"; }, kExitConfig,
         "zo.conf is malformed, line 5: '=' character not found"},
        {"a misspelt key", [](ServiceOptions& o) { o.settings = {{"Backnd", "tgt"}}; }, kExitConfig,
         "unknown key \"Backnd\" in [ZoScsiSrv]"},
        {"a key without a value", [](ServiceOptions& o) { o.settings = {{"Backend", ""}}; }, kExitConfig,
         "Backend has no value"},
        {"a bad flag", [](ServiceOptions& o) { o.settings = {{"RequireMountedState", "maybe"}}; }, kExitConfig,
         "neither yes nor no"},
        {"a state root others may write",
         [](ServiceOptions& o) {
             std::filesystem::create_directory(o.folder + "/state");
             ::chmod((o.folder + "/state").c_str(), 0777);
         },
         kExitConfig, "can be written by other users"},
        {"a state root not marked as initialised", [](ServiceOptions& o) { o.settings = {{"RequireMountedState", "yes"}}; },
         kExitInventory, "is the disk that holds it mounted?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ServiceOptions options;
        ServiceProcess probe(options);  // a fresh folder
        options.folder = probe.options().folder;
        c.arrange(options);
        ServiceProcess service(options);
        EXPECT_EQ(service.RunToExit(), c.status) << service.logText();
        EXPECT_NE(service.logText().find(c.says), std::string::npos) << service.logText();
        EXPECT_FALSE(std::filesystem::exists(service.inventoryPath())) << "no inventory was made";
    }
}

TEST(FailClosed, AStateRootMustBeInitialisedOnceWhenItsDiskMustBeMounted) {
    ServiceOptions options;
    options.settings = {{"RequireMountedState", "yes"}};
    ServiceProcess service(options);
    ASSERT_EQ(service.RunToExit(), kExitInventory) << service.logText();
    EXPECT_FALSE(std::filesystem::exists(service.options().folder + "/state")) << "nothing made in its place";

    ServiceOptions init = service.options();
    init.arguments = {"--init-state"};
    ServiceProcess initialiser(init);
    ASSERT_EQ(initialiser.RunToExit(), 0) << initialiser.logText();

    std::string error;
    ASSERT_TRUE(service.Start(error)) << error;
    PointRegistryAt(service);
    std::unique_ptr<ZoScsiSrvClient> client = Attach(error);
    ASSERT_NE(client, nullptr) << error;
    EXPECT_EQ(Classify(client->AddTarget(TargetRequest("first"))).kind, Outcome::Done);
}

TEST(FailClosed, AReloadOfAMalformedFileIsRefusedAndKeepsTheRunningSettings) {
    ServiceOptions options;
    options.settings = {{"DefaultLunSize", "1M"}};
    ServiceProcess service(options);
    std::string error;
    ASSERT_TRUE(service.Start(error)) << error;
    std::ofstream(service.options().folder + "/zo.conf", std::ios::trunc)
        << "[ZoScsiSrv]\nDefaultLunSize = 2M\nBackend tgt\n";
    const Answer reload = Command(service, "reload");
    EXPECT_EQ(reload.number, ZoScsiServer::kErrInvalidArgument);
    EXPECT_NE(reload.text.find("configuration not reloaded: configuration file"), std::string::npos) << reload.text;
    EXPECT_NE(reload.text.find("line 3"), std::string::npos) << reload.text;
    const Answer status = Command(service, "status");
    ASSERT_EQ(status.number, 0) << status.text;
    EXPECT_NE(std::find(status.lines.begin(), status.lines.end(), "default-lun-size=1048576"), status.lines.end());
}

TEST(FailClosed, AnInventoryReplacedOrRemovedUnderARunningServiceTakesNoMoreChanges) {
    ServiceProcess service(ServiceOptions{});
    std::string error;
    ASSERT_TRUE(service.Start(error)) << error;
    PointRegistryAt(service);
    std::unique_ptr<ZoScsiSrvClient> client = Attach(error);
    ASSERT_NE(client, nullptr) << error;
    ASSERT_EQ(Classify(client->AddTarget(TargetRequest("kept"))).kind, Outcome::Done);

    // Replaced by a consistent copy of itself, as a careless restore would.
    const std::string db = service.inventoryPath();
    sqlite3* copy = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &copy), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(copy, ("VACUUM INTO '" + db + ".copy'").c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(copy);
    std::filesystem::rename(db + ".copy", db);

    const Outcome refused = Classify(client->AddTarget(TargetRequest("lost")));
    EXPECT_EQ(refused.kind, Outcome::Refused);
    EXPECT_EQ(refused.number, kExitInventory) << refused.text;
    EXPECT_NE(refused.text.find("inventory.db was replaced by another file"), std::string::npos) << refused.text;
    const Answer listing = Command(service, "lt");
    EXPECT_EQ(listing.number, kExitInventory) << "listings say why too";
    EXPECT_NE(listing.text.find("changed underneath"), std::string::npos) << listing.text;

    client.reset();
    ASSERT_EQ(service.Stop(), 0) << service.logText();
    ASSERT_TRUE(service.Start(error)) << error;
    client = Attach(error);
    ASSERT_NE(client, nullptr) << error;
    EXPECT_EQ(Command(service, "lt").lines, std::vector<std::string>{"kept"})
        << "everything acknowledged, nothing refused";

    std::filesystem::remove(db);
    const Outcome gone = Classify(client->AddTarget(TargetRequest("gone")));
    EXPECT_EQ(gone.number, kExitInventory) << gone.text;
    EXPECT_NE(gone.text.find("inventory.db was removed"), std::string::npos) << gone.text;
    client.reset();
    service.Stop();
    EXPECT_EQ(service.RunToExit(), kExitInventory) << "never a fresh start in its place";
}
