// The backend against the fake tgtadm: a tgtd that does not answer, answers
// garbage, serves the wrong portal or refuses a request makes the call fail
// with tgtadm's message; the backing files follow the LUNs.
#include "backend/tgt/LunFiles.h"
#include "backend/tgt/TgtBackend.h"
#include "backend/tgt/TgtLayout.h"
#include "FakeTgtAdm.h"
#include "Inventories.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "ZoScsiServer.h"

using namespace zoscsi;
using namespace zoscsi::tgt;

namespace {

class TgtBackendFake : public ::testing::Test {
protected:
    void SetUp() override {
        fake.Targets("");
        fake.Portals("Portal: 127.0.0.1:3260,1\n");
    }

    // A backend on the fake tgtadm that never starts a tgtd.
    TgtConfig Config(int limitMs) const {
        TgtConfig config;
        config.startDaemon = false;
        config.tgtadmPath = FakeTgtAdm::Path();
        config.callLimit = std::chrono::milliseconds(limitMs);
        config.claimDir = claims / "tgt";
        return config;
    }

    std::unique_ptr<Backend> Make(int limitMs = 3000, const MachineLimits& limits = ReadMachineLimits()) {
        return MakeTgtBackendWith(Config(limitMs), "alpha", data.path(), limits);
    }

    std::string File(const std::string& target, int id) const { return data / ("luns/" + target + "/" + std::to_string(id) + ".img"); }

    // Requests of one kind ("--op bind") so far.
    size_t Count(const std::string& words) const {
        size_t n = 0;
        for (const std::string& request : fake.Requests()) n += request.find(words) != std::string::npos;
        return n;
    }

    FakeTgtAdm fake;
    TempFolder data, claims;
};

}  // namespace

TEST_F(TgtBackendFake, StartFailsWhenTgtdDoesNotAnswerAndItMayNotStartOne) {
    fake.FailOn("--mode", "tgtadm: failed to send request hdr to tgt daemon, Transport endpoint is not connected");
    const BackendStatus status = Make()->Start(1, {});
    EXPECT_FALSE(status.ok);
    EXPECT_NE(status.text.find("Transport endpoint is not connected"), std::string::npos) << status.text;
    EXPECT_NE(status.text.find("TgtStartDaemon"), std::string::npos) << status.text;
}

TEST_F(TgtBackendFake, StartRefusesWhatItCannotTrust) {
    struct Case {
        const char* name;
        std::function<void(FakeTgtAdm&)> script;
        const char* said;
    };
    const std::vector<Case> cases = {
        {"wrong portal", [](FakeTgtAdm& f) { f.Portals("Portal: 0.0.0.0:3260,1\n"); }, "does not serve portal 127.0.0.1:3260"},
        {"garbage", [](FakeTgtAdm& f) { f.Mode("garbage"); }, "not understood"},
        {"hang", [](FakeTgtAdm& f) { f.Mode("hang"); }, "time limit"},
    };
    for (const Case& c : cases) {
        ::unsetenv("ZO_FAKE_MODE");
        fake.Portals("Portal: 127.0.0.1:3260,1\n");
        c.script(fake);
        const BackendStatus status = Make(300)->Start(1, Inventory({Lun("t1", 1)}, {{"t1", 1, "h"}}));
        EXPECT_FALSE(status.ok) << c.name;
        EXPECT_NE(status.text.find(c.said), std::string::npos) << c.name << ": " << status.text;
    }
    ::unsetenv("ZO_FAKE_MODE");
    EXPECT_FALSE(Make()->Start(2, {}).ok);  // only iSCSI
}

TEST_F(TgtBackendFake, CreateLunMakesASparseFileOfTheSizeAndExportsNothingUnmapped) {
    auto backend = Make();
    ASSERT_TRUE(backend->Start(1, {}).ok);
    LunRecord lun = Lun("t1", 1);
    lun.sizeBytes = 1ull << 30;
    ASSERT_TRUE(backend->CreateLun(lun).ok);
    struct stat st;
    ASSERT_EQ(::stat(File("t1", 1).c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 1ll << 30);
    EXPECT_LT(st.st_blocks * 512, 1ll << 20);  // sparse
    EXPECT_EQ((st.st_mode & 0777), 0600u);
    EXPECT_EQ(Count("--op new"), 0u);
}

TEST_F(TgtBackendFake, MappingExportsTheLunToThatHostOnlyInThisOrder) {
    auto backend = Make();
    ASSERT_TRUE(backend->Start(1, Inventory({Lun("t1", 1)}, {})).ok);
    std::string error;
    ASSERT_TRUE(CreateBackingFile(File("t1", 1), 4096, error)) << error;  // Start never makes data
    ASSERT_TRUE(backend->MapHost(Lun("t1", 1), "hostA", {"hostA"}).ok);
    const std::vector<std::string> requests = fake.Requests();
    ASSERT_GE(requests.size(), 4u);
    const std::string iqn = TargetIqn({"iqn.2026-12.local.zo", "alpha", ""}, "t1", "hostA");
    const std::vector<std::string> tail(requests.end() - 4, requests.end());
    EXPECT_EQ(tail[0], "--mode target --op new --tid=1 --targetname=" + iqn);
    EXPECT_EQ(tail[1], "--mode logicalunit --op new --tid=1 --lun=1 --backing-store=" + File("t1", 1) +
                           " --bstype=rdwr --device-type=disk");
    EXPECT_EQ(tail[2].rfind("--mode logicalunit --op update --tid=1 --lun=1 --params=scsi_id=", 0), 0u);
    EXPECT_EQ(tail[3], "--mode target --op bind --tid=1 --initiator-name=hostA");
    EXPECT_EQ(Count("--initiator-address"), 0u);
    // The detailed listing names the target the host was bound to; a closed
    // or unmapped LUN is exported nowhere.
    LunRecord closed = Lun("t1", 1);
    EXPECT_EQ(backend->ExportOf(closed, "hostA"), iqn);
    closed.open = false;
    EXPECT_EQ(backend->ExportOf(closed, "hostA"), "");
    EXPECT_EQ(backend->ExportOf(Lun("t1", 1), ""), "");
}

TEST_F(TgtBackendFake, ARefusedRequestFailsWithTgtadmsMessage) {
    auto backend = Make();
    ASSERT_TRUE(backend->Start(1, {}).ok);
    fake.FailOn("--backing-store=", "tgtadm: invalid request");
    ASSERT_TRUE(backend->CreateLun(Lun("t1", 1)).ok);
    const BackendStatus status = backend->MapHost(Lun("t1", 1), "hostA", {"hostA"});
    EXPECT_FALSE(status.ok);
    EXPECT_NE(status.text.find("--op new --tid=1 --lun=1"), std::string::npos) << status.text;
    EXPECT_NE(status.text.find("exit 22: tgtadm: invalid request"), std::string::npos) << status.text;
    EXPECT_EQ(Count("--op bind"), 0u);  // never admitted to a half-made target
}

TEST_F(TgtBackendFake, PastTheCeilingNothingIsMadeAndTheLimitIsTheReason) {
    MachineLimits limits;
    limits.pidMax = 4;  // half for tgtd: two LUNs of one I/O thread
    auto backend = Make(3000, limits);
    std::string error;
    for (int id : {1, 2, 3}) ASSERT_TRUE(CreateBackingFile(File("t1", id), 4096, error)) << error;
    const std::vector<LunRecord> luns = {Lun("t1", 1), Lun("t1", 2), Lun("t1", 3)};

    const BackendStatus start = backend->Start(1, Inventory(luns, {{"t1", 1, "h"}, {"t1", 2, "h"}, {"t1", 3, "h"}}));
    EXPECT_EQ(start.number, ZoScsiServer::kErrLimit);
    EXPECT_NE(start.text.find("at most 2 LUNs on this machine (threads: 1 per LUN"), std::string::npos) << start.text;
    EXPECT_EQ(Count("--op new"), 0u);

    ASSERT_TRUE(backend->Start(1, Inventory(luns, {{"t1", 1, "h"}, {"t1", 2, "h"}})).ok);
    const size_t asked = fake.Requests().size();
    const BackendStatus third = backend->MapHost(Lun("t1", 3), "h", {"h"});
    EXPECT_EQ(third.number, ZoScsiServer::kErrLimit);
    EXPECT_NE(third.text.find("this change would export 3"), std::string::npos) << third.text;
    EXPECT_EQ(fake.Requests().size(), asked);  // tgtd was not asked for anything
    EXPECT_TRUE(backend->UnmapHost(Lun("t1", 2), "h", {}).ok);
    EXPECT_TRUE(backend->MapHost(Lun("t1", 3), "h", {"h"}).ok);
}

// Once a request failed and tgtd cannot be read again, what it holds is
// unknown: changes are refused until it is in line, and a refused creation
// leaves no file.
TEST_F(TgtBackendFake, AFailedCreateLeavesNoFileBehind) {
    auto backend = Make();
    ASSERT_TRUE(backend->Start(1, Inventory({}, {})).ok);
    ASSERT_TRUE(backend->CreateLun(Lun("t1", 1)).ok);  // unmapped: no request at all
    EXPECT_TRUE(fake.Requests().size() <= 3u);
    fake.FailOn("--mode", "tgtadm: failed to send request hdr to tgt daemon");  // tgtd gone
    EXPECT_FALSE(backend->MapHost(Lun("t1", 1), "hostA", {"hostA"}).ok);
    EXPECT_FALSE(backend->CreateLun(Lun("t1", 2)).ok);
    EXPECT_NE(::access(File("t1", 2).c_str(), F_OK), 0);
}

TEST_F(TgtBackendFake, ALunWhoseDataIsGoneIsNeverExportedBlank) {
    auto backend = Make();
    const InventorySnapshot inventory = Inventory({Lun("t1", 1)}, {{"t1", 1, "hostA"}});
    EXPECT_TRUE(backend->Start(1, inventory).ok);  // start does not block the service on it...
    const BackendStatus resync = backend->Resync(inventory);
    EXPECT_FALSE(resync.ok);                       // ...but a reload tells
    EXPECT_NE(resync.text.find("t1 LUN 1 is missing"), std::string::npos) << resync.text;
    EXPECT_FALSE(backend->OpenLun(Lun("t1", 1)).ok);
    EXPECT_FALSE(backend->MapHost(Lun("t1", 1), "hostB", {"hostA", "hostB"}).ok);
    EXPECT_EQ(Count("--op new"), 0u);
    EXPECT_NE(::access(File("t1", 1).c_str(), F_OK), 0);
}

// The file goes as soon as the inventory has committed the deletion.
TEST_F(TgtBackendFake, DeleteLunRemovesItsFileAndEmptyFolderOnTheCommit) {
    auto backend = Make();
    ASSERT_TRUE(backend->Start(1, {}).ok);
    ASSERT_TRUE(backend->CreateLun(Lun("t1", 1)).ok);
    ASSERT_TRUE(backend->DeleteLun(Lun("t1", 1)).ok);
    EXPECT_NE(::access(File("t1", 1).c_str(), F_OK), 0);
    EXPECT_EQ(::access((File("t1", 1) + ".deleted").c_str(), F_OK), 0) << "kept until the commit";
    backend->Committed();
    EXPECT_NE(::access((File("t1", 1) + ".deleted").c_str(), F_OK), 0);
    EXPECT_NE(::access((data / "luns/t1").c_str(), F_OK), 0);
}

// A kill between the backend's part of a deletion and the inventory's commit
// keeps the LUN's record: the next start gives it its data back.
TEST_F(TgtBackendFake, ADeletionThatNeverCommittedKeepsTheData) {
    auto backend = Make();
    ASSERT_TRUE(backend->Start(1, {}).ok);
    ASSERT_TRUE(backend->CreateLun(Lun("t1", 1)).ok);
    { std::ofstream(File("t1", 1), std::ios::in | std::ios::out | std::ios::binary) << "precious"; }
    ASSERT_TRUE(backend->DeleteLun(Lun("t1", 1)).ok);
    backend.reset();  // killed: no commit, and its claim goes with it
    InventorySnapshot stillThere;
    stillThere.luns.push_back(Lun("t1", 1));
    auto restarted = Make();
    ASSERT_TRUE(restarted->Start(1, stillThere).ok);
    std::ifstream back(File("t1", 1), std::ios::binary);
    std::string head(8, '\0');
    back.read(&head[0], 8);
    EXPECT_EQ(head, "precious");
}

// A start with many exports to make answers at once and restores in the
// background: changes wait for it within their bound, else are refused
// with its progress; a stop lets it finish first.
TEST_F(TgtBackendFake, ALongRestoreRunsInTheBackgroundAndChangesWaitForIt) {
    std::vector<LunRecord> luns;
    std::vector<MappingRecord> mappings;
    std::string error;
    for (int id = 1; id <= 20; ++id) {
        luns.push_back(Lun("t1", id));
        mappings.push_back({"t1", id, "hostA"});
        ASSERT_TRUE(CreateBackingFile(File("t1", id), 4096, error)) << error;
    }
    ASSERT_TRUE(CreateBackingFile(File("t1", 21), 4096, error)) << error;
    fake.Delay(30);
    TgtConfig config = Config(10000);
    config.restoreWait = std::chrono::milliseconds(0);
    auto backend = MakeTgtBackendWith(config, "alpha", data.path());
    ASSERT_TRUE(backend->Start(1, Inventory(luns, mappings)).ok);  // 42 requests to make

    EXPECT_EQ(backend->State().rfind("restoring exports: ", 0), 0u) << backend->State();
    EXPECT_NE(backend->State().find(" of 42 done"), std::string::npos) << backend->State();
    const BackendStatus refused = backend->MapHost(Lun("t1", 21), "hostA", {"hostA"});
    EXPECT_EQ(refused.number, ZoScsiServer::kErrBusy);
    EXPECT_EQ(refused.text.rfind("restoring exports: ", 0), 0u) << refused.text;
    EXPECT_EQ(backend->AwaitReady().number, ZoScsiServer::kErrBusy);

    backend->Stop();  // waits for the restore: never left half-way
    EXPECT_EQ(Count("--op bind"), 1u);
    EXPECT_EQ(Count("--op update"), 20u);
    EXPECT_EQ(backend->State(), "ready");
    EXPECT_TRUE(backend->AwaitReady().ok);
}
