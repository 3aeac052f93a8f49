// Many clients at once on overlapping names against a real zoscsisrv. The
// operations are chosen so that the end state follows from the answers
// whatever the interleaving:
//   - LUNs are created on shared targets; each client owns the ids its
//     CreateLun answers gave, maps and unmaps hosts (from one shared pool) on
//     them and deletes them; no live id may ever be handed out twice;
//   - every client maps hosts to one shared LUN per target and never unmaps
//     them: each (LUN, host) ends mapped, and exactly one of the clients that
//     tried got a success (the others "already exists");
//   - every client races to create the same few targets: exactly one success
//     per name;
//   - listings by target and by host answer throughout.
// The final listing must equal what this model predicts.
#include "Scale.h"
#include "ServiceClient.h"
#include "ServiceProcess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>

using namespace zorel;

namespace {

constexpr int kSharedTargets = 4;
constexpr int kHosts = 8;
constexpr int kRaceTargets = 10;

std::string SharedTarget(int i) { return "shared" + std::to_string(i); }
std::string Host(int i) { return "iqn.1993-08.org.example:host" + std::to_string(i); }
std::string RaceTarget(int i) { return "race" + std::to_string(i); }

struct Shared {
    std::mutex lock;
    std::set<std::pair<std::string, int>> live;      // LUNs some client owns
    std::map<std::string, int> sharedLun;            // target -> the shared LUN's id
    std::map<std::pair<std::string, std::string>, int> sharedMaps;  // (target, host) -> successes
    std::map<std::string, int> raceWins;             // race target -> successes
    std::vector<std::string> faults;
    std::atomic<long> operations{0};

    void Fault(const std::string& text) {
        std::lock_guard<std::mutex> hold(lock);
        if (faults.size() < 20) faults.push_back(text);
    }
};

struct Owned {
    std::string target;
    int id;
    std::set<std::string> hosts;
};

void Client(Shared& shared, long operations, uint32_t seed, std::vector<Owned>& owned) {
    std::string error;
    std::unique_ptr<ZoScsiSrvClient> client = Attach(error);
    if (!client) return shared.Fault("attach: " + error);
    std::mt19937 random(seed);
    auto expectDone = [&](const char* what, const CYbError& result) {
        const Outcome outcome = Classify(result);
        if (outcome.kind != Outcome::Done) shared.Fault(std::string(what) + ": " + outcome.text);
        return outcome.kind == Outcome::Done;
    };
    for (long n = 0; n < operations; ++n, ++shared.operations) {
        const unsigned pick = random() % 100;
        const std::string target = SharedTarget(static_cast<int>(random() % kSharedTargets));
        const std::string host = Host(static_cast<int>(random() % kHosts));
        if (pick < 35 || owned.empty()) {
            std::string name;
            int32_t id = 0;
            auto request = LunRequest(target);
            if (!expectDone("CreateLun", client->CreateLun(request, name, id))) continue;
            std::lock_guard<std::mutex> hold(shared.lock);
            if (!shared.live.insert({target, id}).second)
                shared.faults.push_back("LUN " + target + "/" + std::to_string(id) + " handed out twice");
            owned.push_back({target, id, {}});
        } else if (pick < 65) {
            Owned& lun = owned[random() % owned.size()];
            if (lun.hosts.count(host)) {
                if (expectDone("UnmapHost", client->UnmapHost(MapRequest(lun.target, lun.id, host))))
                    lun.hosts.erase(host);
            } else if (expectDone("MapHost", client->MapHost(MapRequest(lun.target, lun.id, host)))) {
                lun.hosts.insert(host);
            }
        } else if (pick < 75) {
            const size_t at = random() % owned.size();
            Owned lun = owned[at];
            for (const std::string& mapped : lun.hosts)
                if (!expectDone("UnmapHost", client->UnmapHost(MapRequest(lun.target, lun.id, mapped)))) break;
            {
                // Given up before the request: once it is done the id may be handed out again.
                std::lock_guard<std::mutex> hold(shared.lock);
                shared.live.erase({lun.target, lun.id});
            }
            owned.erase(owned.begin() + static_cast<long>(at));
            expectDone("DeleteLun", client->DeleteLun(NoLunRequest(lun.target, lun.id)));
        } else if (pick < 88) {
            const Outcome outcome = Classify(client->MapHost(MapRequest(target, shared.sharedLun.at(target), host)));
            if (outcome.kind == Outcome::Done || outcome.number == ZoScsiServer::kErrAlreadyExists) {
                std::lock_guard<std::mutex> hold(shared.lock);
                shared.sharedMaps[{target, host}] += outcome.kind == Outcome::Done;
            } else {
                shared.Fault("MapHost on the shared LUN: " + outcome.text);
            }
        } else if (pick < 93) {
            const std::string race = RaceTarget(static_cast<int>(random() % kRaceTargets));
            const Outcome outcome = Classify(client->AddTarget(TargetRequest(race)));
            if (outcome.kind == Outcome::Done || outcome.number == ZoScsiServer::kErrAlreadyExists) {
                std::lock_guard<std::mutex> hold(shared.lock);
                shared.raceWins[race] += outcome.kind == Outcome::Done;
            } else {
                shared.Fault("AddTarget race: " + outcome.text);
            }
        } else {
            std::vector<ZoScsiSrvClient::LunInfo> luns;
            if (pick % 2) expectDone("ListLunsByTarget", client->ListLunsByTarget(target, luns));
            else expectDone("ListLunsByHost", client->ListLunsByHost(host, luns));
        }
    }
}

TEST(ManyClients, TheFinalInventoryIsWhatTheAcknowledgedOperationsPredict) {
    const long clients = Scaled("ZO_RELIABILITY_CLIENTS", 16);
    const long operations = Scaled("ZO_RELIABILITY_OPERATIONS", 1000);
    const uint32_t seed = Seed();
    std::printf("seed %u, %ld clients x %ld operations\n", seed, clients, operations);

    ServiceProcess service(ServiceOptions{});
    std::string error;
    ASSERT_TRUE(service.Start(error)) << error;
    PointRegistryAt(service);
    Shared shared;
    {
        std::unique_ptr<ZoScsiSrvClient> setup = Attach(error);
        ASSERT_NE(setup, nullptr) << error;
        for (int t = 0; t < kSharedTargets; ++t) {
            ASSERT_EQ(Classify(setup->AddTarget(TargetRequest(SharedTarget(t)))).kind, Outcome::Done);
            std::string name;
            int32_t id = 0;
            auto request = LunRequest(SharedTarget(t));
            ASSERT_EQ(Classify(setup->CreateLun(request, name, id)).kind, Outcome::Done);
            shared.sharedLun[SharedTarget(t)] = id;
        }
    }
    std::vector<std::vector<Owned>> owned(static_cast<size_t>(clients));
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (long c = 0; c < clients; ++c)
        threads.emplace_back(Client, std::ref(shared), operations, seed + static_cast<uint32_t>(c),
                             std::ref(owned[static_cast<size_t>(c)]));
    for (std::thread& thread : threads) thread.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%ld operations in %.1f s (%.0f per second), service VmRSS %ld KiB\n", shared.operations.load(),
                seconds, static_cast<double>(shared.operations.load()) / seconds, service.RssKiB());
    for (const std::string& fault : shared.faults) ADD_FAILURE() << fault;

    InventoryView expected;
    for (const auto& lun : shared.sharedLun) expected[lun.first][lun.second];
    for (const auto& pair : shared.sharedMaps) {
        expected[pair.first.first][shared.sharedLun[pair.first.first]].insert(pair.first.second);
        EXPECT_EQ(pair.second, 1) << "map of " << pair.first.second << " on " << pair.first.first
                                  << "'s shared LUN succeeded " << pair.second << " times";
    }
    for (const auto& mine : owned)
        for (const Owned& lun : mine) {
            EXPECT_TRUE(expected[lun.target].emplace(lun.id, lun.hosts).second)
                << lun.target << "/" << lun.id << " owned twice";
        }
    std::unique_ptr<ZoScsiSrvClient> checker = Attach(error);
    ASSERT_NE(checker, nullptr) << error;
    InventoryView actual;
    ASSERT_TRUE(ReadInventory(*checker, actual, error)) << error;
    for (int t = 0; t < kSharedTargets; ++t)
        EXPECT_EQ(Describe(actual[SharedTarget(t)]), Describe(expected[SharedTarget(t)])) << SharedTarget(t);
    EXPECT_EQ(actual.size(), static_cast<size_t>(kSharedTargets)) << "LUNs beyond the shared targets";

    std::vector<std::string> targets;
    ASSERT_FALSE(checker->ListTargets("lt", targets).IsError());
    std::set<std::string> expectedTargets;
    for (int t = 0; t < kSharedTargets; ++t) expectedTargets.insert(SharedTarget(t));
    for (const auto& race : shared.raceWins) {
        expectedTargets.insert(race.first);
        EXPECT_EQ(race.second, 1) << race.first << " was created " << race.second << " times";
    }
    EXPECT_EQ(std::set<std::string>(targets.begin(), targets.end()), expectedTargets);
    EXPECT_EQ(service.Stop(), 0) << service.logText();
}

}  // namespace
