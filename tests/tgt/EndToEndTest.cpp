// The tgt backend against a real tgtd on loopback, checked with a real
// initiator: a host sees exactly the LUNs mapped to it, with their size and
// data, through remap, close, open, delete and a crash of tgtd.
#include "backend/tgt/LunFiles.h"
#include "support/ReadAll.h"
#include "SnapshotEdit.h"
#include "backend/tgt/TgtBackend.h"
#include "backend/tgt/TgtLayout.h"
#include "backend/tgt/TgtShow.h"
#include "Inventories.h"
#include "TgtdHarness.h"
#include "service/TempFolder.h"

#include "ZoScsiServer.h"

#include <gtest/gtest.h>
#include <set>
#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

using namespace zoscsi;
using namespace zoscsi::tgt;

namespace {

const std::string kHostA = "iqn.2026-12.test.zo:host-a";
const std::string kHostB = "iqn.2026-12.test.zo:host-b";
constexpr uint64_t k64MiB = 64ull << 20;

#define SKIP_UNLESS_POSSIBLE()                                      \
    do {                                                            \
        const std::string why = TgtdHarness::SkipReason();          \
        if (!why.empty()) GTEST_SKIP() << why;                      \
    } while (0)

// Plays the service: keeps the inventory the backend is told about.
class EndToEnd : public ::testing::Test {
protected:
    TgtConfig Config(bool startDaemon) const {
        TgtConfig config;
        config.iqnPrefix = "iqn.2026-12.test.zo";
        config.portalAddress = "127.0.0.1";
        config.portalPort = tgtd.portalPort();
        config.controlPort = tgtd.controlPort();
        config.startDaemon = startDaemon;
        config.callLimit = std::chrono::milliseconds(10000);
        config.claimDir = claims / "tgt";
        return config;
    }

    std::string Iqn(const std::string& target, const std::string& host) const {
        return TargetIqn({"iqn.2026-12.test.zo", client, ""}, target, host);
    }
    std::string LunUrl(const std::string& target, const std::string& host, int lun) const {
        return tgtd.url() + "/" + Iqn(target, host) + "/" + std::to_string(lun);
    }
    bool Sees(const std::string& host, const std::string& target, int lun) const {
        const std::string listing = Discover(host, tgtd.url());
        return listing.find("Target:" + Iqn(target, host)) != std::string::npos &&
               listing.find("Lun:" + std::to_string(lun) + " ") != std::string::npos &&
               CapacityBytes(host, LunUrl(target, host, lun)) == static_cast<long long>(k64MiB);
    }
    // Any target of this test instance at all in the host's discovery.
    bool SeesAnything(const std::string& host) const {
        return Discover(host, tgtd.url()).find("iqn.2026-12.test.zo:" + client + ":") != std::string::npos;
    }

    void Expect(const BackendStatus& status, const char* step) { ASSERT_TRUE(status.ok) << step << ": " << status.text; }

    // Every target in tgtd, as it shows them.
    std::vector<TgtTargetState> Shown() const {
        const ProcessResult shown = ByHand({"--mode", "target", "--op", "show"});
        std::vector<TgtTargetState> targets;
        std::string error;
        EXPECT_TRUE(ParseTargets(shown.out, targets, error)) << error;
        return targets;
    }
    // This instance's targets in tgtd as "IQN luns L:PATH:SERIAL ... acl HOST ...".
    std::set<std::string> Held() const {
        std::set<std::string> held;
        for (const TgtTargetState& target : Shown()) {
            if (!IsOwned(Names(), target.name)) continue;
            std::string line = target.name + " luns";
            for (const TgtLunState& lun : target.luns)
                if (lun.lun != 0) line += " " + std::to_string(lun.lun) + ":" + lun.path + ":" + lun.serial;
            line += " acl";
            for (const std::string& acl : target.acls) line += " " + acl;
            held.insert(line);
        }
        return held;
    }
    // What tgtd must hold for `snapshot`, in the same form.
    std::set<std::string> LaidOut(const InventorySnapshot& snapshot) const {
        std::set<std::string> wanted;
        for (const DesiredTarget& target : ComputeLayout(Names(), snapshot).targets) {
            std::string line = target.iqn + " luns";
            for (const DesiredLun& lun : target.luns)
                line += " " + std::to_string(lun.lun) + ":" + lun.path + ":" + lun.serial;
            wanted.insert(line + " acl " + target.host);
        }
        return wanted;
    }
    LayoutNames Names() const { return {"iqn.2026-12.test.zo", client, data / "luns"}; }
    ProcessResult ByHand(const std::vector<std::string>& words) const {
        return zotest::Tgtadm(tgtd.controlPort(), words);
    }
    int TidOf(const std::string& iqn) const {
        for (const TgtTargetState& target : Shown())
            if (target.name == iqn) return target.tid;
        return 0;
    }

    TgtdHarness tgtd;
    TempFolder data, claims;
    std::string client = "e2e" + std::to_string(::getpid());
    InventorySnapshot inventory;
};

std::string ReadBlock(const std::string& host, const std::string& url) {
#ifdef ZO_ISCSI_BLOCK
    const ProcessResult read = RunTool({ZO_ISCSI_BLOCK, host, url, "read", "7"});
    return read.Succeeded() ? read.out : "read failed: " + read.Describe();
#else
    (void)host;
    (void)url;
    return "";
#endif
}

}  // namespace

TEST_F(EndToEnd, HostsSeeExactlyTheirLunsThroughRemapCloseOpenDeleteAndACrash) {
    SKIP_UNLESS_POSSIBLE();
    std::string error;
    ASSERT_TRUE(tgtd.Start(error)) << error;
    auto backend = MakeTgtBackendWith(Config(false), client, data.path());
    Expect(backend->Start(1, inventory), "start");

    const TargetRecord target{"disk1", "", 1};
    LunRecord lun = Lun("disk1", 1);
    lun.sizeBytes = k64MiB;
    Expect(backend->CreateTarget(target), "create target");
    inventory = WithTarget(inventory, target);
    Expect(backend->CreateLun(lun), "create LUN");
    inventory = WithLun(inventory, lun);
    EXPECT_FALSE(SeesAnything(kHostA)) << "an unmapped LUN is exported nowhere";

    Expect(backend->MapHost(lun, kHostA, {kHostA}), "map A");
    inventory = WithHosts(inventory, lun, {kHostA});
    EXPECT_TRUE(Sees(kHostA, "disk1", 1)) << Discover(kHostA, tgtd.url());
    EXPECT_FALSE(SeesAnything(kHostB)) << Discover(kHostB, tgtd.url());
    EXPECT_EQ(CapacityBytes(kHostB, LunUrl("disk1", kHostA, 1)), -1) << "B logs in to A's target";

#ifdef ZO_ISCSI_BLOCK
    const ProcessResult wrote = RunTool({ZO_ISCSI_BLOCK, kHostA, LunUrl("disk1", kHostA, 1), "write", "7", "zo-e2e-block"});
    ASSERT_TRUE(wrote.Succeeded()) << wrote.Describe();
#endif

    // Remap A -> B, as the service does it: map B, then unmap A.
    Expect(backend->MapHost(lun, kHostB, {kHostA, kHostB}), "map B");
    inventory = WithHosts(inventory, lun, {kHostA, kHostB});
    EXPECT_TRUE(Sees(kHostB, "disk1", 1));
    Expect(backend->UnmapHost(lun, kHostA, {kHostB}), "unmap A");
    inventory = WithHosts(inventory, lun, {kHostB});
    EXPECT_FALSE(SeesAnything(kHostA)) << Discover(kHostA, tgtd.url());
    EXPECT_EQ(CapacityBytes(kHostA, LunUrl("disk1", kHostA, 1)), -1);
    EXPECT_TRUE(Sees(kHostB, "disk1", 1)) << Discover(kHostB, tgtd.url());

    lun.open = false;
    Expect(backend->CloseLun(lun), "close");
    inventory = WithLun(inventory, lun);
    EXPECT_FALSE(SeesAnything(kHostB)) << "a closed LUN is hidden";
    lun.open = true;
    Expect(backend->OpenLun(lun), "open");
    inventory = WithLun(inventory, lun);
    EXPECT_TRUE(Sees(kHostB, "disk1", 1));
#ifdef ZO_ISCSI_BLOCK
    EXPECT_EQ(ReadBlock(kHostB, LunUrl("disk1", kHostB, 1)).substr(0, 24), "zo-e2e-blockzo-e2e-block");
#endif

    // tgtd dies: a new one on the same ports is empty until the reload.
    tgtd.KillHard();
    ASSERT_TRUE(tgtd.Restart(error)) << error;
    EXPECT_FALSE(SeesAnything(kHostB));
    Expect(backend->Resync(inventory), "resync");
    EXPECT_TRUE(Sees(kHostB, "disk1", 1));
    EXPECT_FALSE(SeesAnything(kHostA));
#ifdef ZO_ISCSI_BLOCK
    EXPECT_EQ(ReadBlock(kHostB, LunUrl("disk1", kHostB, 1)).substr(0, 12), "zo-e2e-block");
#endif

    Expect(backend->UnmapHost(lun, kHostB, {}), "unmap B");
    Expect(backend->DeleteLun(lun), "delete LUN");
    Expect(backend->DeleteTarget(target), "delete target");
    EXPECT_FALSE(SeesAnything(kHostB));
    EXPECT_FALSE(BackingFileExists(data / "luns/disk1/1.img"));
    backend->Stop();
    tgtd.Stop();
}

TEST_F(EndToEnd, ABackendStartsItsOwnTgtdAgainAfterACrashAndStopsIt) {
    SKIP_UNLESS_POSSIBLE();
    tgtd.PickPorts();
    TgtConfig config = Config(true);
    config.stopOnExit = true;
    auto backend = MakeTgtBackendWith(config, client, data.path());
    LunRecord lun = Lun("disk2", 3);
    lun.sizeBytes = k64MiB;
    inventory = WithHosts(WithTarget(inventory, TargetRecord{"disk2", "", 1}), lun, {kHostA});
    std::string error;
    ASSERT_TRUE(CreateBackingFile(data / "luns/disk2/3.img", k64MiB, error)) << error;
    Expect(backend->Start(1, inventory), "start with its own tgtd");
    EXPECT_TRUE(Sees(kHostA, "disk2", 3)) << Discover(kHostA, tgtd.url());

    const pid_t first = tgtd.FindOtherTgtd();
    ASSERT_GT(first, 0);
    ::kill(first, SIGKILL);
    Expect(backend->Resync(inventory), "resync after the crash");
    EXPECT_TRUE(Sees(kHostA, "disk2", 3));
    const pid_t second = tgtd.FindOtherTgtd();
    EXPECT_GT(second, 0);
    EXPECT_NE(second, first);

    backend->Stop();
    for (int i = 0; i < 100 && tgtd.FindOtherTgtd() > 0; ++i) ::usleep(20000);
    EXPECT_EQ(tgtd.FindOtherTgtd(), 0) << "stopped with its last target";
}

// "Threads:" or "Max open files" (soft and hard) of a process, from /proc.
std::string ProcLine(pid_t pid, const char* file, const std::string& key) {
    std::istringstream in(zotest::ReadAll("/proc/" + std::to_string(pid) + "/" + file));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return line;
    return "";
}

TEST_F(EndToEnd, ItsOwnTgtdServesDataAsConfigured) {
    SKIP_UNLESS_POSSIBLE();
    const struct {
        const char* store;
        const char* flags;
        int ioThreads;
        int tgtdThreads;  // its main thread and the LUN's I/O threads
    } cases[] = {{"rdwr", "", 3, 4}, {"rdwr", "sync", 1, 2}, {"aio", "", 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.store) + " " + c.flags + " " + std::to_string(c.ioThreads));
        tgtd.PickPorts();
        TgtConfig config = Config(true);
        config.stopOnExit = true;
        config.backingStore = c.store;
        config.backingFlags = c.flags;
        config.ioThreads = c.ioThreads;
        auto backend = MakeTgtBackendWith(config, client, data.path());
        LunRecord lun = Lun("disk4", 1);
        lun.sizeBytes = k64MiB;
        std::string error;
        ASSERT_TRUE(CreateBackingFile(data / "luns/disk4/1.img", k64MiB, error)) << error;
        Expect(backend->Start(1, WithHosts(WithTarget({}, TargetRecord{"disk4", "", 1}), lun, {kHostA})), "start");

        const pid_t pid = tgtd.FindOtherTgtd();
        ASSERT_GT(pid, 0);
        EXPECT_EQ(ProcLine(pid, "status", "Threads:"), "Threads:\t" + std::to_string(c.tgtdThreads));
        std::istringstream files(ProcLine(pid, "limits", "Max open files").substr(14));
        std::string soft, hard;
        files >> soft >> hard;
        EXPECT_EQ(soft, hard) << "tgtd may use every descriptor it is allowed";
        const ProcessResult shown = ByHand({"--mode", "target", "--op", "show"});
        EXPECT_NE(shown.out.find(std::string("Backing store type: ") + c.store), std::string::npos) << shown.out;
        EXPECT_NE(shown.out.find(std::string("Backing store flags: ") + c.flags + "\n"), std::string::npos);
#ifdef ZO_ISCSI_BLOCK
        const std::string url = LunUrl("disk4", kHostA, 1);
        EXPECT_TRUE(RunTool({ZO_ISCSI_BLOCK, kHostA, url, "write", "7", c.store}).Succeeded());
        EXPECT_EQ(ReadBlock(kHostA, url).substr(0, 8), (std::string(c.store) + c.store + c.store).substr(0, 8));
#endif
        backend->Stop();
        for (int i = 0; i < 100 && tgtd.FindOtherTgtd() > 0; ++i) ::usleep(20000);
        ASSERT_EQ(tgtd.FindOtherTgtd(), 0);
        ASSERT_TRUE(RemoveBackingFile(data / "luns/disk4/1.img", error)) << error;
    }
}

// Many LUNs up to a ceiling made low: the one past it is refused before
// tgtd is asked for anything, and the host still sees exactly the others.
TEST_F(EndToEnd, ManyLunsUpToTheCeilingAndNotOneMore) {
    SKIP_UNLESS_POSSIBLE();
    std::string error;
    ASSERT_TRUE(tgtd.Start(error)) << error;
    constexpr int kLuns = 48;
    MachineLimits limits;
    limits.pidMax = 2 * kLuns;  // tgtd's half: one I/O thread for each of kLuns LUNs
    auto backend = MakeTgtBackendWith(Config(false), client, data.path(), limits);
    inventory = WithTarget({}, TargetRecord{"many", "", 1});
    for (int id = 1; id <= kLuns + 1; ++id) {
        ASSERT_TRUE(CreateBackingFile(data / ("luns/many/" + std::to_string(id) + ".img"), k64MiB, error)) << error;
        inventory = id <= kLuns ? WithHosts(inventory, Lun("many", id), {kHostA}) : WithLun(inventory, Lun("many", id));
    }
    Expect(backend->Start(1, inventory), "start");

    const BackendStatus past = backend->MapHost(Lun("many", kLuns + 1), kHostA, {kHostA});
    EXPECT_EQ(past.number, ZoScsiServer::kErrLimit) << past.text;
    const std::string listing = Discover(kHostA, tgtd.url());
    size_t luns = 0;
    for (size_t at = listing.find("DIRECT_ACCESS"); at != std::string::npos; at = listing.find("DIRECT_ACCESS", at + 1))
        ++luns;
    EXPECT_EQ(luns, static_cast<size_t>(kLuns)) << listing;
    EXPECT_TRUE(Sees(kHostA, "many", kLuns));
    EXPECT_FALSE(Sees(kHostA, "many", kLuns + 1));
    backend->Stop();
    tgtd.Stop();
}

TEST_F(EndToEnd, ATgtdThatCannotBindItsPortalIsStoppedAndStartFails) {
    SKIP_UNLESS_POSSIBLE();
    tgtd.PickPorts();
    // Hold the portal: tgtd would fall back to every address on port 3260.
    const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(tgtd.portalPort()));
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(holder, 1), 0);

    auto backend = MakeTgtBackendWith(Config(true), client, data.path());
    const BackendStatus status = backend->Start(1, {});
    ::close(holder);
    EXPECT_FALSE(status.ok);
    EXPECT_NE(status.text.find("does not serve portal " + tgtd.portal()), std::string::npos) << status.text;
    EXPECT_NE(status.text.find("Address already in use"), std::string::npos) << status.text;
    for (int i = 0; i < 100 && tgtd.FindOtherTgtd() > 0; ++i) ::usleep(20000);
    EXPECT_EQ(tgtd.FindOtherTgtd(), 0);
}

TEST_F(EndToEnd, CloseSucceedsWhileTheHostIsReadingAndCutsItOff) {
    SKIP_UNLESS_POSSIBLE();
    std::string error;
    ASSERT_TRUE(tgtd.Start(error)) << error;
    auto backend = MakeTgtBackendWith(Config(false), client, data.path());
    LunRecord lun = Lun("busy", 1);
    lun.sizeBytes = k64MiB;
    Expect(backend->Start(1, WithTarget(inventory, TargetRecord{"busy", "", 1})), "start");
    Expect(backend->CreateLun(lun), "create");
    Expect(backend->MapHost(lun, kHostA, {kHostA}), "map");

    // iscsi-perf keeps 32 reads in flight: tgtd calls the LUN "still active".
    ChildProcess reader;
    ASSERT_TRUE(SpawnChild({"/usr/bin/iscsi-perf", "-i", kHostA, LunUrl("busy", kHostA, 1)}, data / "perf.log", {},
                           reader, error))
        << error;
    ::usleep(800000);
    ASSERT_TRUE(reader.Running());

    lun.open = false;
    const BackendStatus closed = backend->CloseLun(lun);
    reader.Kill();
    EXPECT_TRUE(closed.ok) << closed.text;
    EXPECT_FALSE(SeesAnything(kHostA));
    tgtd.Stop();
}

// No "show" before a change: the backend plans on its model of tgtd. After
// every kind of change tgtd holds exactly the inventory's layout, also when
// tgtd lost a target behind the backend's back or was restarted empty (the
// request that fails has the backend read tgtd again and mend it).
TEST_F(EndToEnd, TgtdHoldsTheLayoutAfterEveryChangeAndAfterAFailureBehindItsBack) {
    SKIP_UNLESS_POSSIBLE();
    std::string error;
    ASSERT_TRUE(tgtd.Start(error)) << error;
    auto backend = MakeTgtBackendWith(Config(false), client, data.path());
    const TargetRecord target{"disk1", "", 1};
    inventory = WithTarget(inventory, target);
    Expect(backend->Start(1, inventory), "start");
    std::vector<LunRecord> luns;
    for (int id = 1; id <= 3; ++id) {
        luns.push_back(Lun("disk1", id, true, 1000 + id));
        Expect(backend->CreateLun(luns.back()), "create");
        inventory = WithLun(inventory, luns.back());
    }
    auto step = [&](const std::string& name, const std::function<BackendStatus()>& change, const InventorySnapshot& after) {
        const BackendStatus status = change();
        EXPECT_TRUE(status.ok) << name << ": " << status.text;
        inventory = after;
        EXPECT_EQ(Held(), LaidOut(inventory)) << name;
    };
    step("map 1 to A", [&] { return backend->MapHost(luns[0], kHostA, {kHostA}); }, WithHosts(inventory, luns[0], {kHostA}));
    step("map 2 to A", [&] { return backend->MapHost(luns[1], kHostA, {kHostA}); }, WithHosts(inventory, luns[1], {kHostA}));
    step("map 1 to B", [&] { return backend->MapHost(luns[0], kHostB, {kHostA, kHostB}); },
         WithHosts(inventory, luns[0], {kHostA, kHostB}));
    LunRecord closed = luns[1];
    closed.open = false;
    step("close 2", [&] { return backend->CloseLun(closed); }, WithLun(inventory, closed));
    step("open 2", [&] { return backend->OpenLun(luns[1]); }, WithLun(inventory, luns[1]));
    step("unmap 1 from A", [&] { return backend->UnmapHost(luns[0], kHostA, {kHostB}); },
         WithHosts(inventory, luns[0], {kHostB}));

    const int tidA = TidOf(Iqn("disk1", kHostA));
    ASSERT_GT(tidA, 0);
    ASSERT_TRUE(ByHand({"--mode", "target", "--op", "delete", "--force", "--tid=" + std::to_string(tidA)}).Succeeded());
    step("map 3 to A after A's target went", [&] { return backend->MapHost(luns[2], kHostA, {kHostA}); },
         WithHosts(inventory, luns[2], {kHostA}));

    tgtd.KillHard();
    ASSERT_TRUE(tgtd.Restart(error)) << error;
    step("map 2 to B on a tgtd started again", [&] { return backend->MapHost(luns[1], kHostB, {kHostA, kHostB}); },
         WithHosts(inventory, luns[1], {kHostA, kHostB}));
    EXPECT_TRUE(Sees(kHostA, "disk1", 2));
    step("unmap 2 from A and B", [&] { return backend->UnmapHost(luns[1], kHostA, {}); }, WithHosts(inventory, luns[1], {}));
    step("delete 2", [&] { return backend->DeleteLun(luns[1]); }, WithoutLun(inventory, "disk1", 2));
    backend->Stop();
    tgtd.Stop();
}

// Two instances of one client name with two state folders on one tgtd: the
// second is refused with the first's pid and state folder, touches nothing
// of its exports, and is still refused once the first has died (its exports
// are still there); the first starts again as if nothing happened.
TEST_F(EndToEnd, ATgtdNameSpaceHasOneOwnerThatOutlivesItsCrash) {
    SKIP_UNLESS_POSSIBLE();
    std::string error;
    ASSERT_TRUE(tgtd.Start(error)) << error;
    TgtConfig config = Config(false);
    config.stopOnExit = true;
    auto owner = MakeTgtBackendWith(config, client, data.path());
    LunRecord lun = Lun("disk1", 1);
    inventory = WithHosts(WithTarget(inventory, TargetRecord{"disk1", "", 1}), lun, {kHostA});
    ASSERT_TRUE(CreateBackingFile(data / "luns/disk1/1.img", k64MiB, error)) << error;
    Expect(owner->Start(1, inventory), "the owner's start");
    const std::set<std::string> exported = Held();
    ASSERT_EQ(exported.size(), 1u);

    TempFolder otherData;
    auto other = MakeTgtBackendWith(config, client, otherData.path());
    const BackendStatus refused = other->Start(1, {});
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.text.find("pid " + std::to_string(::getpid())), std::string::npos) << refused.text;
    EXPECT_NE(refused.text.find("state folder " + data.path()), std::string::npos) << refused.text;
    EXPECT_FALSE(other->Resync({}).ok);
    EXPECT_FALSE(other->CreateLun(Lun("disk9", 1)).ok);
    other->Stop();  // TgtStopOnExit: but it owns nothing to remove
    EXPECT_EQ(Held(), exported);

    owner.reset();  // killed: its exports stay in tgtd, its claim goes
    other = MakeTgtBackendWith(config, client, otherData.path());
    const BackendStatus still = other->Start(1, {});
    EXPECT_FALSE(still.ok);
    EXPECT_NE(still.text.find("state folder " + data.path()), std::string::npos) << still.text;
    EXPECT_NE(still.text.find("has ended"), std::string::npos) << still.text;
    other.reset();
    EXPECT_EQ(Held(), exported);
    EXPECT_TRUE(Sees(kHostA, "disk1", 1));

    owner = MakeTgtBackendWith(config, client, data.path());
    Expect(owner->Start(1, inventory), "the owner's start again");
    EXPECT_EQ(Held(), exported);
    owner->Stop();
    EXPECT_TRUE(Held().empty());
    tgtd.Stop();
}

// The file of a deleted LUN goes as soon as the inventory has committed the
// deletion; until then it is only renamed, so that a kill before the commit
// keeps the data of a LUN whose record stays.
TEST_F(EndToEnd, ADeletedLunsDataGoesWithTheCommit) {
    SKIP_UNLESS_POSSIBLE();
    std::string error;
    ASSERT_TRUE(tgtd.Start(error)) << error;
    auto backend = MakeTgtBackendWith(Config(false), client, data.path());
    LunRecord lun = Lun("disk1", 1);
    inventory = WithTarget(inventory, TargetRecord{"disk1", "", 1});
    Expect(backend->Start(1, inventory), "start");
    Expect(backend->CreateLun(lun), "create");
    Expect(backend->MapHost(lun, kHostA, {kHostA}), "map");
    Expect(backend->UnmapHost(lun, kHostA, {}), "unmap");
    Expect(backend->DeleteLun(lun), "delete");
    const std::string file = data / "luns/disk1/1.img";
    EXPECT_FALSE(BackingFileExists(file));
    EXPECT_TRUE(BackingFileExists(file + ".deleted")) << "kept until the commit";
    backend->Committed();
    EXPECT_FALSE(BackingFileExists(file + ".deleted"));
    EXPECT_TRUE(Held().empty());
    backend->Stop();
    tgtd.Stop();
}
