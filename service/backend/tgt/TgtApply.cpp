#include "backend/tgt/TgtApply.h"

#include <chrono>
#include <set>
#include <thread>

namespace zoscsi::tgt {
namespace {

using Op = TgtCommand::Op;

constexpr std::chrono::milliseconds kBusyWindow{1500};  // retries stop past this
constexpr std::chrono::milliseconds kBusyPause{25};

// Closes every connection of target `tid`, so that its commands drain.
void CloseSessions(const TgtAdm& adm, int tid) {
    std::vector<TgtTargetState> targets;
    std::string error;
    if (!ReadTargets(adm, targets, error)) return;
    for (const TgtTargetState& target : targets) {
        if (target.tid != tid) continue;
        for (const TgtNexusState& nexus : target.nexuses) {
            for (int cid : nexus.connections) {
                TgtCommand drop;
                drop.op = Op::DeleteConnection;
                drop.tid = tid;
                drop.sid = nexus.sid;
                drop.cid = cid;
                (void)adm.Run(drop);
            }
        }
    }
}

TgtAdmResult RunOne(const TgtAdm& adm, const TgtCommand& command) {
    TgtAdmResult result = adm.Run(command);
    const bool deletion = command.op == Op::DeleteLun || command.op == Op::DeleteTarget;
    if (result.ok || !result.busy || !deletion) return result;
    const auto start = std::chrono::steady_clock::now();
    CloseSessions(adm, command.tid);
    bool closedAgain = false;
    while (!result.ok && result.busy && std::chrono::steady_clock::now() - start < kBusyWindow) {
        std::this_thread::sleep_for(kBusyPause);
        if (!closedAgain && std::chrono::steady_clock::now() - start > kBusyWindow / 2) {
            CloseSessions(adm, command.tid);  // the host may have logged in again
            closedAgain = true;
        }
        result = adm.Run(command);
    }
    return result;
}

}  // namespace

bool ReadTargets(const TgtAdm& adm, std::vector<TgtTargetState>& targets, std::string& error) {
    TgtCommand show;
    show.op = Op::ShowTargets;
    const TgtAdmResult result = adm.Run(show);
    if (!result.ok) {
        error = result.text;
        return false;
    }
    return ParseTargets(result.out, targets, error);
}

ApplyOutcome ApplyPlan(const TgtAdm& adm, const std::vector<TgtCommand>& plan, bool stopAtFirst) {
    ApplyOutcome outcome;
    std::set<int> lostTids;
    for (const TgtCommand& command : plan) {
        if (command.op != Op::NewTarget && lostTids.count(command.tid)) continue;
        const TgtAdmResult result = RunOne(adm, command);
        if (result.ok) {
            ++outcome.done;
            continue;
        }
        outcome.ok = false;
        outcome.failures.push_back(result.text);
        if (command.op == Op::NewTarget) lostTids.insert(command.tid);
        if (stopAtFirst) break;
    }
    return outcome;
}

}  // namespace zoscsi::tgt
