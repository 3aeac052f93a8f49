#include "CrashModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <random>
#include <thread>

namespace zorel {
namespace {

constexpr size_t kLunsPerClient = 6;
const char* const kHosts[] = {"iqn.1993-08.org.example:h1", "iqn.1993-08.org.example:h2",
                              "iqn.1993-08.org.example:h3"};

// Starts the service and reconciles every model with what it lists.
bool StartAndCheck(ServiceProcess& service, std::vector<ClientModel>& models, KillRun& run) {
    std::string error;
    if (!service.Start(error)) {
        ADD_FAILURE() << "the service did not come back: " << error;
        return false;
    }
    std::unique_ptr<ZoScsiSrvClient> checker = Attach(error);
    InventoryView view;
    std::vector<std::string> targets;
    if (!checker || !ReadInventory(*checker, view, error) || checker->ListTargets("lt", targets).IsError()) {
        ADD_FAILURE() << "cannot list after the restart: " << error;
        return false;
    }
    for (ClientModel& model : models) {
        run.inFlight += model.pending.kind != Pending::None;
        Reconcile(model, view, targets);
    }
    if (run.afterRestart) run.afterRestart(view);
    return !::testing::Test::HasFailure();
}

}  // namespace

void RunKillCycles(ServiceProcess& service, KillRun& run) {
    std::mt19937 random(run.seed);
    std::vector<ClientModel> models(static_cast<size_t>(run.clients));
    for (size_t i = 0; i < models.size(); ++i) models[i].target = "crash" + std::to_string(i);
    PointRegistryAt(service);
    const auto start = std::chrono::steady_clock::now();
    for (long cycle = 0; cycle < run.kills; ++cycle) {
        if (random() % 100 < run.earlyKillPercent) {  // before, while or after it opens the inventory
            std::string error;
            ASSERT_TRUE(service.Spawn(error)) << error;
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
            service.Kill();
            ++run.early;
            continue;
        }
        if (!StartAndCheck(service, models, run)) return;
        std::vector<std::thread> threads;
        for (ClientModel& model : models)
            threads.emplace_back(MutateUntilKilled, std::ref(model), static_cast<uint32_t>(random()));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % run.windowMicros));
        service.Kill();
        for (std::thread& thread : threads) thread.join();
        for (ClientModel& model : models) {
            for (const std::string& fault : model.faults) ADD_FAILURE() << model.target << ": " << fault;
            model.faults.clear();
        }
        if (::testing::Test::HasFailure()) return;
    }
    if (!StartAndCheck(service, models, run)) return;
    for (const ClientModel& model : models) run.acknowledged += model.acknowledged;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

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
        case Pending::CreateLun:  // one new LUN at most, with no host
            for (const auto& lun : actual) {
                if (model.luns.count(lun.first) || !lun.second.empty()) continue;
                after[lun.first];
                break;
            }
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

}  // namespace zorel
