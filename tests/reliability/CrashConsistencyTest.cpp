// Kill -9 at random moments: a real zoscsisrv serves a stream of mutations
// from several clients and is killed with SIGKILL at a random point (now and
// then before it even listens), then started again on the same inventory,
// again and again. After every restart the inventory must hold every
// acknowledged operation, and each operation that was in flight at the kill
// either entirely or not at all; a refusal the model cannot explain, or a
// service that does not come back, fails the test.
//
// Each client owns one target, so the expected state of its target follows
// from its own acknowledged operations alone: LUNs created (ids from the
// answers), hosts mapped and unmapped, LUNs deleted.
#include "Scale.h"
#include "ServiceClient.h"
#include "ServiceProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>

using namespace zorel;

namespace {

constexpr size_t kLunsPerClient = 6;
const char* const kHosts[] = {"iqn.1993-08.org.example:h1", "iqn.1993-08.org.example:h2",
                              "iqn.1993-08.org.example:h3"};

struct Pending {
    enum Kind { None, AddTarget, CreateLun, Map, Unmap, DeleteLun } kind = None;
    int id = 0;
    std::string host;
};

struct ClientModel {
    std::string target;
    bool targetKnown = false;
    LunHosts luns;   // what the acknowledged operations left
    Pending pending;  // the operation that got no answer
    long acknowledged = 0;
    std::vector<std::string> faults;  // answers the model cannot explain
};

// One client's stream until its connection breaks (the kill).
void MutateUntilKilled(ClientModel& model, uint32_t seed) {
    std::string error;
    std::unique_ptr<ZoScsiSrvClient> client = Attach(error);
    if (!client) return;  // killed before it could attach
    std::mt19937 random(seed);
    auto act = [&](Pending op, const CYbError& result) {
        const Outcome outcome = Classify(result);
        if (outcome.kind == Outcome::Lost) {
            model.pending = op;
            return false;
        }
        if (outcome.kind == Outcome::Refused) {
            model.faults.push_back("refused " + std::to_string(outcome.number) + ": " + outcome.text);
            return false;
        }
        ++model.acknowledged;
        return true;
    };
    if (!model.targetKnown) {
        const Outcome added = Classify(client->AddTarget(TargetRequest(model.target)));
        if (added.kind == Outcome::Lost) {
            model.pending.kind = Pending::AddTarget;
            return;
        }
        if (added.kind == Outcome::Refused && added.number != ZoScsiServer::kErrAlreadyExists) {
            model.faults.push_back("AddTarget refused: " + added.text);
            return;
        }
        model.targetKnown = true;
    }
    for (;;) {
        if (model.luns.size() < kLunsPerClient && random() % 3 != 0) {
            std::string name;
            int32_t id = -1;
            auto request = LunRequest(model.target);
            if (!act({Pending::CreateLun, 0, ""}, client->CreateLun(request, name, id))) return;
            if (model.luns.count(id)) model.faults.push_back("LUN id " + std::to_string(id) + " handed out twice");
            model.luns[id];
            continue;
        }
        if (model.luns.empty()) continue;
        auto lun = model.luns.begin();
        std::advance(lun, random() % model.luns.size());
        const int id = lun->first;
        std::set<std::string>& hosts = lun->second;
        const std::string host = kHosts[random() % 3];
        if (hosts.count(host)) {
            if (!act({Pending::Unmap, id, host}, client->UnmapHost(MapRequest(model.target, id, host)))) return;
            hosts.erase(host);
        } else if (hosts.empty() && random() % 2 == 0) {
            if (!act({Pending::DeleteLun, id, ""}, client->DeleteLun(NoLunRequest(model.target, id)))) return;
            model.luns.erase(lun);
        } else {
            if (!act({Pending::Map, id, host}, client->MapHost(MapRequest(model.target, id, host)))) return;
            hosts.insert(host);
        }
    }
}

// Checks the listed state of the client's target against its model, with
// the pending operation done or not, and takes the listed state on.
void Reconcile(ClientModel& model, const InventoryView& view, const std::vector<std::string>& targets) {
    const bool listed = std::find(targets.begin(), targets.end(), model.target) != targets.end();
    const Pending pending = model.pending;
    model.pending = Pending();
    if (pending.kind == Pending::AddTarget && listed) model.targetKnown = true;
    if (model.targetKnown != listed) {
        ADD_FAILURE() << model.target << (listed ? " exists but was never created" : " was lost");
        model.targetKnown = listed;
    }
    const auto found = view.find(model.target);
    const LunHosts actual = found == view.end() ? LunHosts() : found->second;
    LunHosts after = model.luns;
    switch (pending.kind) {
        case Pending::CreateLun:
            for (const auto& lun : actual)
                if (!model.luns.count(lun.first) && lun.second.empty()) after[lun.first];
            break;
        case Pending::Map: after[pending.id].insert(pending.host); break;
        case Pending::Unmap: after[pending.id].erase(pending.host); break;
        case Pending::DeleteLun: after.erase(pending.id); break;
        default: break;
    }
    EXPECT_TRUE(actual == model.luns || actual == after)
        << model.target << ": listed " << Describe(actual) << ", acknowledged " << Describe(model.luns)
        << ", with the operation in flight " << Describe(after);
    model.luns = actual;
}

TEST(CrashConsistency, EveryAcknowledgedOperationSurvivesKillsAtRandomPoints) {
    const long kills = Scaled("ZO_RELIABILITY_KILLS", 200);
    const long clients = Scaled("ZO_RELIABILITY_KILL_CLIENTS", 3);
    const uint32_t seed = Seed();
    std::printf("seed %u, %ld kills, %ld clients\n", seed, kills, clients);
    std::mt19937 random(seed);

    ServiceProcess service(ServiceOptions{});
    PointRegistryAt(service);
    std::vector<ClientModel> models(static_cast<size_t>(clients));
    for (size_t i = 0; i < models.size(); ++i) models[i].target = "crash" + std::to_string(i);

    long early = 0, inFlight = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long cycle = 0; cycle < kills; ++cycle) {
        std::string error;
        if (random() % 10 == 0) {  // killed while it starts: before, during or after opening the inventory
            ASSERT_TRUE(service.Spawn(error)) << error;
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
            service.Kill();
            ++early;
            continue;
        }
        ASSERT_TRUE(service.Start(error)) << "cycle " << cycle << ": " << error;
        {
            std::unique_ptr<ZoScsiSrvClient> checker = Attach(error);
            ASSERT_NE(checker, nullptr) << error;
            InventoryView view;
            std::vector<std::string> targets;
            ASSERT_TRUE(ReadInventory(*checker, view, error)) << error;
            ASSERT_FALSE(checker->ListTargets("lt", targets).IsError());
            for (ClientModel& model : models) {
                inFlight += model.pending.kind != Pending::None;
                Reconcile(model, view, targets);
            }
        }
        if (::testing::Test::HasFailure()) break;
        std::vector<std::thread> threads;
        for (ClientModel& model : models) threads.emplace_back(MutateUntilKilled, std::ref(model), static_cast<uint32_t>(random()));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 50000));
        service.Kill();
        for (std::thread& thread : threads) thread.join();
        for (ClientModel& model : models) {
            for (const std::string& fault : model.faults) ADD_FAILURE() << model.target << ": " << fault;
            model.faults.clear();
        }
        if (::testing::Test::HasFailure()) break;
    }
    long acknowledged = 0;
    for (const ClientModel& model : models) acknowledged += model.acknowledged;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%ld kills (%ld while starting), %ld acknowledged mutations, %ld in flight at a kill, %.1f s\n", kills,
                early, acknowledged, inFlight, seconds);
    RecordProperty("acknowledged", static_cast<int>(acknowledged));
    EXPECT_GT(acknowledged, kills) << "the kills came too early to test anything";
}

}  // namespace
