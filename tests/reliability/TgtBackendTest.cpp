// The service with its tgt backend pointed at a tgtadm stand-in
// (helpers/RecordingTgtadm.cpp) that records every argument vector byte for
// byte and can be told, while the service runs, to hang, to print garbage or
// to fail:
//   - a tgtadm that hangs or prints garbage is killed at its time limit and
//     the client gets a backend-failure answer, never a hang; listings keep
//     answering meanwhile; nothing of the failed change stays in the
//     inventory, and once tgtadm behaves again so does the service;
//   - names full of shell syntax reach tgtadm as single arguments, exactly
//     as sent, and no shell is ever run (ServiceProcess's trap).
#include "ServiceClient.h"
#include "ServiceProcess.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace zorel;
using Clock = std::chrono::steady_clock;

#ifndef ZO_REL_TGTADM
#error "ZO_REL_TGTADM names the tgtadm stand-in"
#endif

namespace {

constexpr int kCallLimitMs = 1000;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Children of `parent` that are the stand-in and still run (not yet killed).
int RunningFakes(pid_t parent) {
    int count = 0;
    DIR* proc = ::opendir("/proc");
    while (dirent* entry = proc ? ::readdir(proc) : nullptr) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        const std::string base = std::string("/proc/") + entry->d_name;
        const std::string stat = ReadFile(base + "/stat");
        const size_t paren = stat.rfind(')');
        if (paren == std::string::npos || std::atol(stat.c_str() + paren + 4) != parent) continue;
        const std::string cmdline = ReadFile(base + "/cmdline");
        count += cmdline.compare(0, std::string(ZO_REL_TGTADM).size() + 1, std::string(ZO_REL_TGTADM) + '\0') == 0;
    }
    if (proc) ::closedir(proc);
    return count;
}

class TgtBackend : public ::testing::Test {
protected:
    void SetUp() override {
        ServiceOptions options;
        options.backend = "tgt";
        options.settings = {{"TgtAdmPath", ZO_REL_TGTADM},
                            {"TgtStartDaemon", "false"},
                            {"TgtCallTimeoutMs", std::to_string(kCallLimitMs)},
                            {"TgtStartTimeoutMs", std::to_string(kCallLimitMs)}};
        service = std::make_unique<ServiceProcess>(options);
        adm = service->options().folder + "/tgtadm";
        std::filesystem::create_directories(adm);
        service->AddEnvironment("ZO_REL_TGTADM_DIR=" + adm);
        service->AddSetting("TgtClaimDir", service->options().folder + "/claims");
        Mode("ok");
        std::string error;
        ASSERT_TRUE(service->Start(error)) << error;
        PointRegistryAt(*service);
        client = Attach(error);
        ASSERT_NE(client, nullptr) << error;
        ASSERT_EQ(Classify(client->StartScsiService(ZoScsiSrvClientRequest::StartServiceRequest(
                               ZoScsiSrvClientRequest::RequestHeader(1, ZoScsiServer::ISCSI, 0))))
                      .kind,
                  Outcome::Done)
            << service->logText();
    }

    void Mode(const std::string& mode) { std::ofstream(adm + "/mode", std::ios::trunc) << mode << "\n"; }

    // Every recorded call, argv[0] included.
    std::vector<std::vector<std::string>> Calls() const {
        std::ifstream log(adm + "/calls", std::ios::binary);
        std::vector<std::vector<std::string>> calls(1);
        while (log.peek() != EOF) {
            if (log.peek() == '\n') {
                log.get();
                calls.emplace_back();
                continue;
            }
            size_t length = 0;
            char colon = 0;
            log >> length;
            log.get(colon);
            std::string argument(length, '\0');
            log.read(&argument[0], static_cast<std::streamsize>(length));
            calls.back().push_back(argument);
        }
        calls.pop_back();
        return calls;
    }

    int NewLun(const std::string& target) {
        std::string name;
        int32_t id = -1;
        auto request = LunRequest(target);
        const Outcome outcome = Classify(client->CreateLun(request, name, id));
        EXPECT_EQ(outcome.kind, Outcome::Done) << outcome.text;
        return id;
    }

    std::unique_ptr<ServiceProcess> service;
    std::string adm;
    std::unique_ptr<ZoScsiSrvClient> client;
};

TEST_F(TgtBackend, AHungOrBabblingTgtadmIsKilledTheClientGetsABackendFailureAndListingsGoOn) {
    ASSERT_EQ(Classify(client->AddTarget(TargetRequest("tgt01"))).kind, Outcome::Done);
    const int lun = NewLun("tgt01");
    struct Row {
        const char* mode;
        std::string host;
    };
    const Row rows[] = {{"hang", "iqn.1993-08.org.example:hang-all"},
                        {"garbage", "iqn.1993-08.org.example:garbage-all"},
                        {"hang-on bind", "iqn.1993-08.org.example:hang-bind"},
                        {"garbage-on update", "iqn.1993-08.org.example:garbage-update"},
                        {"fail-on bind", "iqn.1993-08.org.example:fail-bind"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.mode);
        Mode(row.mode);
        std::atomic<bool> done{false};
        Outcome mapped;
        double took = 0;
        std::thread mutation([&] {
            const auto start = Clock::now();
            mapped = Classify(client->MapHost(MapRequest("tgt01", lun, row.host)));
            took = Since(start);
            done = true;
        });
        std::string error;
        std::unique_ptr<ZoScsiSrvClient> reader = Attach(error);
        ASSERT_NE(reader, nullptr) << error;
        int listings = 0;
        double slowest = 0;
        while (!done || listings == 0) {
            const auto start = Clock::now();
            std::vector<std::string> targets;
            std::vector<ZoScsiSrvClient::LunInfo> luns;
            EXPECT_FALSE(reader->ListTargets("lt", targets).IsError());
            EXPECT_FALSE(reader->ListLuns(luns, "tgt01", "").IsError());
            slowest = std::max(slowest, Since(start));
            ++listings;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        mutation.join();
        EXPECT_EQ(mapped.kind, Outcome::Refused) << mapped.text;
        EXPECT_EQ(mapped.number, ZoScsiServer::kErrBackend) << mapped.text;
        EXPECT_LT(took, 10.0 * kCallLimitMs / 1000) << "answered within a few call limits";
        EXPECT_LT(slowest, 0.8 * kCallLimitMs / 1000) << "listings wait for no backend";
        std::printf("%-16s backend failure after %.2f s; %d listings meanwhile, slowest %.3f s\n", row.mode, took,
                    listings, slowest);
        for (int i = 0; i < 100 && RunningFakes(service->pid()) > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(RunningFakes(service->pid()), 0) << "every tgtadm past its limit was killed";
    }
    Mode("ok");
    std::string error;
    const std::vector<std::string> records = ListingRecords(*client, error);
    EXPECT_EQ(records, std::vector<std::string>{"tgt01 - " + std::to_string(lun)}) << "no failed mapping was kept";
    const Outcome healed = Classify(client->MapHost(MapRequest("tgt01", lun, "iqn.1993-08.org.example:ok")));
    EXPECT_EQ(healed.kind, Outcome::Done) << healed.text;
}

TEST_F(TgtBackend, ShellSyntaxInNamesReachesTgtadmAsOneArgumentExactlyAsSent) {
    const std::string canary = service->options().folder + "/pwned";
    const std::string hosts[] = {
        "iqn.x:$(touch${IFS}" + canary + ")",
        "iqn.x:`touch${IFS}" + canary + "`",
        "iqn.x;touch${IFS}" + canary,
        "iqn.x|touch${IFS}" + canary + "&&id>" + canary,
        "iqn.x:'quoted'\"double\"\\back",
        "iqn.x:*?[ab]~root$HOME{a,b}",
        "iqn.x:=--mode=system",
    };
    ASSERT_EQ(Classify(client->AddTarget(TargetRequest("inject", "$(touch " + canary + ")"))).kind, Outcome::Done);
    const int lun = NewLun("inject");
    for (const std::string& host : hosts) {
        const Outcome mapped = Classify(client->MapHost(MapRequest("inject", lun, host)));
        EXPECT_EQ(mapped.kind, Outcome::Done) << host << ": " << mapped.text;
    }
    const std::string notUtf8 = "iqn.x:\xff\xfe-not-utf8";
    const Outcome refused = Classify(client->MapHost(MapRequest("inject", lun, notUtf8)));
    EXPECT_EQ(refused.number, ZoScsiServer::kErrInvalidArgument) << refused.text;
    const std::vector<std::vector<std::string>> calls = Calls();
    ASSERT_FALSE(calls.empty());
    for (const auto& call : calls)
        for (const std::string& argument : call) EXPECT_EQ(argument.find(notUtf8), std::string::npos);
    for (const auto& call : calls) ASSERT_EQ(call.at(0), ZO_REL_TGTADM) << "only tgtadm itself is run";
    for (const std::string& host : hosts) {
        bool found = false;
        for (const auto& call : calls)
            for (const std::string& argument : call) found = found || argument == "--initiator-name=" + host;
        EXPECT_TRUE(found) << "the host " << host << " did not reach tgtadm as one argument, byte for byte";
    }
    EXPECT_FALSE(std::filesystem::exists(canary)) << "a name was run as a command";
    EXPECT_EQ(service->shellsRun(), "");
}

}  // namespace
