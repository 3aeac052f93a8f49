// The client library against the real zoscsisrv, launched on demand in a
// temporary runtime and state folder. Each test serves its own client name,
// so each has its own instance and inventory.
#include "TempFolder.h"
#include "support/ReadAll.h"
#include "ZoScsiSrvClient.h"
#include "LogWriter.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <thread>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#ifndef ZOSCSISRV_PATH
#error "ZOSCSISRV_PATH names the service program"
#endif

using namespace ZoScsiSrvClientRequest;
using Luns = std::vector<ZoScsiSrvClient::LunInfo>;

namespace {

TempFolder* g_root = nullptr;

std::string StateFolder(const std::string& client) { return *g_root / ("state/" + client); }

std::string ReadFile(const std::string& path) { return zotest::ReadAll(path); }

// The instance serving `client`, from its lock file; 0 when none was started.
pid_t InstancePid(const std::string& client) {
    return static_cast<pid_t>(std::atol(ReadFile(StateFolder(client) + "/zoscsisrv.lock").c_str()));
}

// Gone, or a zombie whose threads have all let go of their files: the lock
// of its state folder is free again.
bool Ended(pid_t pid, const std::string& client) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    if (!stat.empty() && (paren == std::string::npos || paren + 2 >= stat.size() || stat[paren + 2] != 'Z'))
        return false;
    const int fd = open((StateFolder(client) + "/zoscsisrv.lock").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
}

// Signals the instance of `client` and waits until it has ended.
void Stop(const std::string& client, int signal) {
    const pid_t pid = InstancePid(client);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, signal), 0);
    for (int i = 0; i < 500 && !Ended(pid, client); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(Ended(pid, client)) << "pid " << pid << " outlived signal " << signal;
}

std::string Text(const CYbError& error) { return error.IsError() ? error.ToString() : "success"; }

#define EXPECT_OK(call)                     \
    do {                                    \
        const CYbError result_ = (call);    \
        EXPECT_FALSE(result_.IsError()) << #call << ": " << Text(result_); \
    } while (0)
#define ASSERT_OK(call)                     \
    do {                                    \
        const CYbError result_ = (call);    \
        ASSERT_FALSE(result_.IsError()) << #call << ": " << Text(result_); \
    } while (0)

// Refused by the service with `number` (the client reports 774, or 183 for
// AddTarget's 7, with the service's number in the text).
void ExpectRefused(const CYbError& error, int number, unsigned code = 774) {
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(error.Code(), code) << error.ToString();
    EXPECT_NE(error.Message().find("errNum=" + std::to_string(number) + ","), std::string::npos) << error.ToString();
    int32_t typed = 0;
    std::string text;
    EXPECT_TRUE(ZoScsiSrvClient::GetServiceError(error, typed, text));
    EXPECT_EQ(typed, number) << "the typed number is the one in the text";
    EXPECT_NE(error.Message().find(text), std::string::npos) << text;
}

// "target host lun", sorted as the service sorts.
std::vector<std::string> Records(const Luns& luns) {
    std::vector<std::string> records;
    for (const auto& lun : luns) records.push_back(lun.target + " " + (lun.host.empty() ? "-" : lun.host) + " " + lun.lun);
    return records;
}

class ServiceIntegration : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        g_root = new TempFolder();
        std::ofstream(*g_root / "zo.conf") << "[OnDemandServices]\nZoScsiSrv = " << ZOSCSISRV_PATH
                                            << "\n\n[ZoScsiSrv]\nIdleExitSeconds = 120\n";
        setenv("ZO_CONFIG", (*g_root / "zo.conf").c_str(), 1);
        setenv("ZO_RUNTIME_DIR", (*g_root / "run").c_str(), 1);
        setenv("ZO_STATE_DIR", (*g_root / "state").c_str(), 1);
        // Listings log every record at level 0; keep the test's output readable.
        g_ptrLogWriter.reset(new StderrLogWriter(-1));
    }

    static void TearDownTestSuite() {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(*g_root / "state", ignored)) {
            const std::string client = entry.path().filename().string();
            const pid_t pid = InstancePid(client);
            if (pid > 0 && !Ended(pid, client)) Stop(client, SIGTERM);
        }
        delete g_root;
        g_root = nullptr;
    }

protected:
    // A client of `name`'s instance, initialised and with the service started.
    std::unique_ptr<ZoScsiSrvClient> Client(const std::string& name) {
        auto client = std::make_unique<ZoScsiSrvClient>();
        const CYbError launched = client->Initialize(name, "zod", 0);
        EXPECT_FALSE(launched.IsError()) << Text(launched) << "\n" << ReadFile(*g_root / ("run/ZoScsiSrv/" + name + "/service.log"));
        EXPECT_OK(client->StartScsiService(StartServiceRequest(RequestHeader(1, ZoScsiServer::ISCSI, 0))));
        return client;
    }

    static CreateTargetRequest Target(const std::string& name, const std::string& params = "") {
        CreateTargetRequest request;
        request.targetName = name;
        request.targetParams = params;
        return request;
    }
    static DeleteTargetRequest NoTarget(const std::string& name) {
        DeleteTargetRequest request;
        request.targetName = name;
        return request;
    }
    static CreateLunRequest NewLun(const std::string& target, const std::string& options = "-s 1M") {
        CreateLunRequest request;
        request.targetName = target;
        request.options = options;
        return request;
    }
    static OpenLunRequest Open(const std::string& target, int id) {
        OpenLunRequest request;
        request.targetName = target;
        request.lunId = id;
        return request;
    }
    static DeleteLunRequest Delete(const std::string& target, int id) {
        DeleteLunRequest request;
        request.targetName = target;
        request.lunId = id;
        return request;
    }
    static CloseLunRequest Close(const std::string& target, int id) {
        CloseLunRequest request;
        request.header = RequestHeader(1, ZoScsiServer::ISCSI, ZoScsiServer::Wire::kOpCtxCloseLun);
        request.targetName = target;
        request.lunId = id;
        return request;
    }
    static MapHostRequest Map(const std::string& target, int id, const std::string& host) {
        return MapHostRequest(id, target, host, RequestHeader(1, ZoScsiServer::ISCSI, 0));
    }

    static std::vector<std::string> All(ZoScsiSrvClient& client) {
        Luns luns;
        EXPECT_OK(client.ListLuns(luns, "", ""));
        return Records(luns);
    }
    static std::vector<std::string> TargetNames(ZoScsiSrvClient& client) {
        std::vector<std::string> names;
        EXPECT_OK(client.ListTargets("lt", names));
        return names;
    }
};

TEST_F(ServiceIntegration, LaunchReuseAndRelaunchAfterAKill) {
    auto first = Client("launch");
    EXPECT_TRUE(first->IsZoScsiServiceUp(true));
    const pid_t pid = InstancePid("launch");
    ASSERT_GT(pid, 0);

    auto second = Client("launch");  // the same instance
    EXPECT_EQ(InstancePid("launch"), pid);
    ASSERT_OK(second->AddTarget(Target("tgt01")));
    EXPECT_EQ(TargetNames(*first), std::vector<std::string>{"tgt01"});

    Stop("launch", SIGKILL);
    EXPECT_FALSE(first->IsZoScsiServiceUp(false)) << "a dead peer is noticed without a request";
    EXPECT_FALSE(first->IsZoScsiServiceUp(true));
    auto third = Client("launch");
    EXPECT_NE(InstancePid("launch"), pid);
    EXPECT_TRUE(third->IsZoScsiServiceUp(true));
    EXPECT_EQ(TargetNames(*third), std::vector<std::string>{"tgt01"});
}

TEST_F(ServiceIntegration, TargetLunAndMappingLifecycle) {
    auto client = Client("lifecycle");
    ASSERT_OK(client->AddTarget(Target("Tgt01")));  // sent lower-cased
    ASSERT_OK(client->AddTarget(Target("tgt02", "portal=127.0.0.1")));
    ExpectRefused(client->AddTarget(Target("tgt01")), 7, 183);
    EXPECT_EQ(TargetNames(*client), (std::vector<std::string>{"tgt01", "tgt02"}));

    std::string name;
    int32_t id = 0;
    for (int expected : {1, 2, 3}) {
        CreateLunRequest request = NewLun("tgt01");
        ASSERT_OK(client->CreateLun(request, name, id));
        EXPECT_EQ(id, expected);
        EXPECT_EQ(name, "tgt01:lun" + std::to_string(expected));
    }
    CreateLunRequest other = NewLun("tgt02", "");
    ASSERT_OK(client->CreateLun(other, name, id));
    EXPECT_EQ(id, 1);
    CreateLunRequest missing = NewLun("tgt09");
    ExpectRefused(client->CreateLun(missing, name, id), 2);
    EXPECT_EQ(id, -1);

    ASSERT_OK(client->MapHost(Map("tgt01", 1, "Host-A")));
    ASSERT_OK(client->MapHost(Map("tgt01", 1, "host-b")));
    ASSERT_OK(client->MapHost(Map("tgt02", 1, "Host-A")));
    ExpectRefused(client->MapHost(Map("tgt01", 1, "Host-A")), 7);
    ExpectRefused(client->UnmapHost(Map("tgt01", 2, "Host-A")), 2);
    EXPECT_EQ(All(*client), (std::vector<std::string>{"tgt01 Host-A 1", "tgt01 host-b 1", "tgt01 - 2", "tgt01 - 3",
                                                       "tgt02 Host-A 1"}));

    Luns luns;
    ASSERT_OK(client->ListLunsByTarget("tgt02", luns));
    EXPECT_EQ(Records(luns), std::vector<std::string>{"tgt02 Host-A 1"});
    ASSERT_OK(client->ListLunsByHost("Host-A", luns));
    EXPECT_EQ(Records(luns), (std::vector<std::string>{"tgt01 Host-A 1", "tgt02 Host-A 1"}));
    ASSERT_OK(client->ListLuns(luns, "tgt01", "host-b"));
    EXPECT_EQ(Records(luns), std::vector<std::string>{"tgt01 host-b 1"});
    // Target filters fold case as creation does; host filters match exactly.
    ASSERT_OK(client->ListLunsByTarget("Tgt01", luns));
    EXPECT_EQ(Records(luns).size(), 4u);
    ASSERT_OK(client->ListLuns(luns, "TGT02", ""));
    EXPECT_EQ(Records(luns), std::vector<std::string>{"tgt02 Host-A 1"});
    ASSERT_OK(client->ListLunsByHost("host-a", luns));
    EXPECT_TRUE(luns.empty());
    ASSERT_OK(client->ListLuns(luns, "", ""));
    for (const auto& lun : luns) EXPECT_NEAR(static_cast<double>(lun.creationTime), static_cast<double>(time(nullptr)), 600);

    RemapHostRequest remap;
    remap.lunId = 1;
    remap.targetName = "tgt01";
    remap.fromHostName = "host-b";
    remap.toHostName = "host-c";
    ASSERT_OK(client->RemapLun2Host(remap));
    ASSERT_OK(client->ListLunsByTarget("tgt01", luns));
    EXPECT_EQ(Records(luns), (std::vector<std::string>{"tgt01 Host-A 1", "tgt01 host-c 1", "tgt01 - 2", "tgt01 - 3"}));

    ExpectRefused(client->DeleteLun(Delete("tgt01", 1)), 16);  // still mapped
    ExpectRefused(client->DeleteTarget(NoTarget("tgt02")), 16);  // still has a LUN
    ASSERT_OK(client->CloseLun(Close("tgt01", 2)));
    EXPECT_EQ(All(*client).size(), 5u);  // a closed LUN is still listed
    ASSERT_OK(client->OpenLun(Open("tgt01", 2), name));
    EXPECT_EQ(name, "tgt01:lun2");
    ExpectRefused(client->OpenLun(Open("tgt01", 9), name), 2);
    EXPECT_EQ(name, "");

    ASSERT_OK(client->DeleteLun(Delete("tgt01", 2)));
    CreateLunRequest again = NewLun("tgt01");
    ASSERT_OK(client->CreateLun(again, name, id));
    EXPECT_EQ(id, 2);  // the lowest free id again

    ASSERT_OK(client->UnmapHost(Map("tgt02", 1, "Host-A")));
    ASSERT_OK(client->DeleteLun(Delete("tgt02", 1)));
    ASSERT_OK(client->DeleteTarget(NoTarget("TGT02")));
    ExpectRefused(client->DeleteTarget(NoTarget("tgt02")), 2);
    EXPECT_EQ(TargetNames(*client), std::vector<std::string>{"tgt01"});

    EXPECT_OK(client->ReloadConfiguration("reload"));
    const CYbError unknown = client->ReloadConfiguration("bogus");
    ASSERT_TRUE(unknown.IsError());
    EXPECT_EQ(unknown.Code(), 774u);
    std::vector<std::string> lines;
    const CYbError unknownWord = client->ListLuns("nonsense", "-h lifecycle", lines);
    EXPECT_TRUE(unknownWord.IsError());
    EXPECT_TRUE(lines.empty());
}

TEST_F(ServiceIntegration, BadNamesAreRefusedAndNothingIsStored) {
    auto client = Client("badnames");
    for (const std::string& bad : {std::string("bad#name"), std::string("a b"), std::string("-lead"),
                                   std::string(224, 't'), std::string("line\nbreak"), std::string("")})
        ExpectRefused(client->AddTarget(Target(bad)), 22);
    ExpectRefused(client->AddTarget(Target("tgt01", "x#y")), 22);
    ASSERT_OK(client->AddTarget(Target("tgt01")));
    std::string name;
    int32_t id = 0;
    for (const char* options : {"-s 1M\n", "-s 1M#", "-s lots", "-s 1M -q", "-s 100"}) {
        CreateLunRequest request = NewLun("tgt01", options);
        ExpectRefused(client->CreateLun(request, name, id), 22);
    }
    CreateLunRequest good = NewLun("tgt01");
    ASSERT_OK(client->CreateLun(good, name, id));
    for (const char* host : {"h#1", "-h", "two words", "tab\there", ""})
        ExpectRefused(client->MapHost(Map("tgt01", id, host)), 22);
    ExpectRefused(client->MapHost(Map("tgt01", -1, "h1")), 22);
    EXPECT_EQ(TargetNames(*client), std::vector<std::string>{"tgt01"});
    EXPECT_EQ(All(*client), std::vector<std::string>{"tgt01 - 1"});
}

TEST_F(ServiceIntegration, AcknowledgedChangesSurviveARestartAndAKill) {
    std::vector<std::string> expected;
    {
        auto client = Client("persist");
        ASSERT_OK(client->AddTarget(Target("tgt01")));
        std::string name;
        int32_t id = 0;
        for (int i = 0; i < 3; ++i) {
            CreateLunRequest request = NewLun("tgt01");
            ASSERT_OK(client->CreateLun(request, name, id));
        }
        ASSERT_OK(client->MapHost(Map("tgt01", 3, "h1")));
        ASSERT_OK(client->CloseLun(Close("tgt01", 2)));
        expected = All(*client);
    }
    Stop("persist", SIGTERM);
    {
        auto client = Client("persist");
        EXPECT_EQ(All(*client), expected);
        ASSERT_OK(client->MapHost(Map("tgt01", 1, "h2")));  // acknowledged, then killed at once
        expected = All(*client);
        Stop("persist", SIGKILL);
    }
    auto client = Client("persist");
    EXPECT_EQ(All(*client), expected);
    std::string name;
    ASSERT_OK(client->OpenLun(Open("tgt01", 2), name));  // the closed LUN came back closed, and opens
}

TEST_F(ServiceIntegration, ParallelClientsGetDistinctIds) {
    ASSERT_OK(Client("parallel")->AddTarget(Target("tgt01")));
    constexpr int kClients = 8;
    constexpr int kEach = 5;
    std::vector<std::vector<int32_t>> ids(kClients);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < kClients; ++c)
        threads.emplace_back([&, c] {
            ZoScsiSrvClient client;
            if (client.Initialize("parallel", "zod", 0).IsError()) {
                ++failures;
                return;
            }
            for (int i = 0; i < kEach; ++i) {
                CreateLunRequest request = NewLun("tgt01");
                std::string name;
                int32_t id = -1;
                if (client.CreateLun(request, name, id).IsError()) ++failures;
                else ids[c].push_back(id);
            }
        });
    for (auto& thread : threads) thread.join();
    ASSERT_EQ(failures.load(), 0);
    std::set<int32_t> all;
    for (const auto& list : ids) all.insert(list.begin(), list.end());
    EXPECT_EQ(all.size(), static_cast<size_t>(kClients * kEach));
    EXPECT_EQ(*all.begin(), 1);
    EXPECT_EQ(*all.rbegin(), kClients * kEach);
    EXPECT_EQ(All(*Client("parallel")).size(), static_cast<size_t>(kClients * kEach));
}

TEST_F(ServiceIntegration, AnIdleInstanceEndsByItself) {
    setenv("ZO_SERVICE_ZoScsiSrv_IDLE_EXIT", "1", 1);
    { Client("idle"); }
    unsetenv("ZO_SERVICE_ZoScsiSrv_IDLE_EXIT");
    const pid_t pid = InstancePid("idle");
    for (int i = 0; i < 500 && !Ended(pid, "idle"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(Ended(pid, "idle")) << "pid " << pid << " still runs without connections";
    auto client = Client("idle");  // and the next client gets a fresh one
    EXPECT_NE(InstancePid("idle"), pid);
}

// A refused start reaches the caller with the service's own reason, its exit
// status as the launch error number, and the instance's log; the library's
// text is pushed on the launcher's error. Each cause has its own number.
TEST_F(ServiceIntegration, ARefusedLaunchSaysWhyWithItsOwnNumber) {
    struct Row {
        const char* client;
        std::function<void()> prepare;
        unsigned code;
        std::string reason;
    };
    const Row rows[] = {
        {"corrupt",
         [] {
             std::filesystem::create_directories(StateFolder("corrupt"));
             std::filesystem::permissions(StateFolder("corrupt"), std::filesystem::perms::owner_all);
             std::ofstream(StateFolder("corrupt") + "/inventory.db") << std::string(4096, 'x');
         },
         74, "refusing to start"},
        {"unlockable",
         [] {
             std::filesystem::create_directories(StateFolder("unlockable") + "/zoscsisrv.lock");
             std::filesystem::permissions(StateFolder("unlockable"), std::filesystem::perms::owner_all);
         },
         73,
         "cannot open " + StateFolder("unlockable") + "/zoscsisrv.lock"},
        {"bogus", [] { setenv("ZO_SERVICE_ZoScsiSrv", ZOSCSISRV_PATH " --backend bogus", 1); }, 78,
         "unknown backend"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.client);
        row.prepare();
        ZoScsiSrvClient client;
        const CYbError error = client.Initialize(row.client, "zod", 0);
        unsetenv("ZO_SERVICE_ZoScsiSrv");
        ASSERT_TRUE(error.IsError());
        EXPECT_EQ(error.Space(), FXErrorSpace::Launch) << error.ToString();
        EXPECT_EQ(error.Code(), row.code) << error.ToString();
        EXPECT_NE(error.Message().find(row.reason), std::string::npos) << error.ToString();
        const std::string log = *g_root / ("run/ZoScsiSrv/" + std::string(row.client) + "/service.log");
        EXPECT_NE(error.Message().find("its log: " + log), std::string::npos) << error.ToString();
        EXPECT_EQ(error.Trail().back().text, "ZOOnDemandSvcClient::SubmitTask failed");
    }
    EXPECT_EQ(ReadFile(StateFolder("corrupt") + "/inventory.db"), std::string(4096, 'x'));  // left as it was
    std::filesystem::remove_all(StateFolder("unlockable"));
}

// An instance serves the state folder it was started on: a caller whose
// ZO_STATE_DIR names another gets a clear refusal, never that inventory.
TEST_F(ServiceIntegration, AnInstanceServesOnlyTheStateItWasStartedOn) {
    auto first = Client("identity");
    ASSERT_OK(first->AddTarget(Target("mine")));
    const std::string other = *g_root / "other-state";
    setenv("ZO_STATE_DIR", other.c_str(), 1);
    ZoScsiSrvClient stranger;
    const CYbError refused = stranger.Initialize("identity", "zod", 0);
    setenv("ZO_STATE_DIR", (*g_root / "state").c_str(), 1);
    ASSERT_TRUE(refused.IsError());
    EXPECT_EQ(refused.Code(), static_cast<unsigned>(EEXIST)) << refused.ToString();
    EXPECT_NE(refused.Message().find("serves state folder " + StateFolder("identity")), std::string::npos)
        << refused.ToString();
    EXPECT_NE(refused.Message().find("ZO_STATE_DIR is \"" + other + "\""), std::string::npos) << refused.ToString();
    EXPECT_FALSE(std::filesystem::exists(other)) << "the other folder is never opened";
    EXPECT_EQ(TargetNames(*first), std::vector<std::string>{"mine"});
}

TEST_F(ServiceIntegration, ListingAHundredThousandLuns) {
    { Client("bulk"); }  // creates the inventory
    Stop("bulk", SIGTERM);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((StateFolder("bulk") + "/inventory.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, R"sql(
        BEGIN;
        WITH RECURSIVE t(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM t WHERE i < 9)
          INSERT INTO targets SELECT printf('iqn.2024-01.com.example:target%02d', i), '', 1700000000 FROM t;
        WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000)
          INSERT INTO luns SELECT targets.name, n.i, targets.name || ':lun' || n.i, 1048576, 0, '', 1, 1700000000
          FROM targets, n;
        COMMIT;)sql",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    auto client = Client("bulk");
    Luns luns;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_OK(client->ListLuns(luns, "", ""));
    const double millis = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(luns.size(), 100000u);
    EXPECT_EQ(luns.front().target, "iqn.2024-01.com.example:target00");
    EXPECT_EQ(luns.back().lun, "10000");
    const auto filteredStart = std::chrono::steady_clock::now();
    ASSERT_OK(client->ListLunsByTarget("iqn.2024-01.com.example:target05", luns));
    const double filteredMillis =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - filteredStart).count();
    EXPECT_EQ(luns.size(), 10000u);
    std::printf("through the client: 100000 LUNs listed and parsed in %.0f ms; one target of 10000 in %.0f ms\n",
                millis, filteredMillis);
}

// The largest inventory the listing limits admit (docs/SERVICE.md): one
// target of 16,383 LUNs, each mapped to 16 hosts, with host names so long
// that the full listing takes its byte limit but for less than one more
// line. Every listing call answers it whole; the next mapping is refused.
TEST_F(ServiceIntegration, TheLargestInventoryListsThroughEveryCall) {
    constexpr int kLuns = 16383;
    constexpr int kHosts = 16;
    constexpr int64_t kLines = int64_t{kLuns} * kHosts;
    constexpr int64_t kByteLimit = (64 << 20) - (64 << 10);  // the answer frame less its reserve
    const std::string target = "iqn.2026-12.com.example:largest";
    int64_t idDigits = 0;
    for (int id = 1; id <= kLuns; ++id) idDigits += static_cast<int64_t>(std::to_string(id).size());
    // Each line is "<e>target#host#id#epoch</e>"; epochs of 10 digits, or 9
    // for the first `shortEpochs` LUNs (16 lines each) to come within 16 bytes.
    auto bytes = [&](int64_t hostBytes, int64_t shortEpochs) {
        return kLines * (7 + static_cast<int64_t>(target.size()) + 3 + hostBytes + 10) + kHosts * idDigits -
               kHosts * shortEpochs;
    };
    int64_t hostBytes = 28;
    while (bytes(hostBytes, 0) < kByteLimit - 100) ++hostBytes;
    const int64_t shortEpochs = std::max<int64_t>(0, (bytes(hostBytes, 0) - kByteLimit + 15) / 16);
    const int64_t listingBytes = bytes(hostBytes, shortEpochs);
    ASSERT_LE(hostBytes, 223);
    ASSERT_LE(listingBytes, kByteLimit);
    std::string hosts;
    std::vector<std::string> hostNames;
    for (int h = 0; h < kHosts; ++h) {
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "iqn.1993-08.org.example:h%02d.", h);
        hostNames.push_back(prefix + std::string(static_cast<size_t>(hostBytes) - std::strlen(prefix), 'x'));
        hosts += std::string(h ? "," : "") + "('" + hostNames.back() + "')";
    }

    { Client("largest"); }  // creates the inventory
    Stop("largest", SIGTERM);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((StateFolder("largest") + "/inventory.db").c_str(), &db), SQLITE_OK);
    const std::string sql = "BEGIN; INSERT INTO targets VALUES ('" + target + "', '', 1700000000);"
        " WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 16383)"
        "  INSERT INTO luns SELECT '" + target + "', i, '" + target + ":lun' || i, 1048576, 0, '', 1,"
        "  CASE WHEN i <= " + std::to_string(shortEpochs) + " THEN 999999999 ELSE 1700000000 END FROM n;"
        " WITH h(name) AS (VALUES " + hosts + ")"
        "  INSERT INTO mappings SELECT luns.target, luns.id, h.name, 1 FROM luns, h;"
        " COMMIT;";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);

    auto client = Client("largest");
    auto start = std::chrono::steady_clock::now();
    auto secondsSince = [](std::chrono::steady_clock::time_point from) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
    };
    Luns luns;
    ASSERT_OK(client->ListLuns(luns, "", ""));
    EXPECT_EQ(luns.size(), static_cast<size_t>(kLines));
    const double fullSeconds = secondsSince(start);
    ASSERT_OK(client->ListLunsByTarget(target, luns));
    EXPECT_EQ(luns.size(), static_cast<size_t>(kLines));
    EXPECT_EQ(luns.back().lun, "16383");
    EXPECT_EQ(luns.back().host, hostNames.back());
    ASSERT_OK(client->ListLunsByHost(hostNames[3], luns));
    EXPECT_EQ(luns.size(), static_cast<size_t>(kLuns));
    EXPECT_EQ(TargetNames(*client), std::vector<std::string>{target});
    std::vector<std::string> targetDetails;
    ASSERT_OK(client->ListTargets("ltd", targetDetails));
    EXPECT_EQ(targetDetails, std::vector<std::string>{target + "#16383#16383#262128#1700000000"});
    // The detailed word, page by page.
    start = std::chrono::steady_clock::now();
    size_t detailLines = 0;
    int pages = 0;
    for (std::string from;; ++pages) {
        std::vector<std::string> lines;
        ASSERT_OK(client->ListLuns("lld", "-h largest" + (from.empty() ? "" : " -from " + from), lines));
        from.clear();
        if (!lines.empty() && lines.back().rfind("next=", 0) == 0) {
            from = lines.back().substr(5);
            lines.pop_back();
        }
        detailLines += lines.size();
        if (from.empty()) break;
    }
    EXPECT_EQ(detailLines, static_cast<size_t>(kLines));
    const double detailSeconds = secondsSince(start);

    const CYbError refused = client->MapHost(Map(target, 1, std::string(200, 'z')));
    ExpectRefused(refused, 28);
    EXPECT_NE(refused.Message().find("above its limit of " + std::to_string(kByteLimit)), std::string::npos)
        << refused.ToString();
    std::printf("largest inventory (%lld lines, %lld bytes of lines): full listing %.2f s; lld in %d pages %.2f s\n",
                static_cast<long long>(kLines), static_cast<long long>(listingBytes), fullSeconds, pages + 1,
                detailSeconds);
}

}  // namespace
