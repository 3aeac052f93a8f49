#include "backend/tgt/TgtApply.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
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

bool TakesAccessAway(Op op) {
    return op == Op::DeleteTarget || op == Op::DeleteLun || op == Op::UnbindInitiator || op == Op::DeleteConnection;
}

// The plan cut into jobs (requests run in order) and the jobs each waits for.
struct Job {
    std::vector<size_t> steps;       // indexes into the plan
    std::vector<size_t> dependents;  // jobs that wait for this one
    size_t waiting = 0;              // jobs this one still waits for
};

// Runs jobs on `workers` threads, the lowest-numbered ready job first.
class Scheduler {
public:
    Scheduler(const TgtAdm& adm, const std::vector<TgtCommand>& plan, const ApplyOptions& options,
              ApplyOutcome& outcome)
        : m_adm(adm), m_plan(plan), m_options(options), m_outcome(outcome) {}

    void Run(std::vector<Job> jobs) {
        m_jobs = std::move(jobs);
        m_unfinished = m_jobs.size();
        for (size_t j = 0; j < m_jobs.size(); ++j)
            if (m_jobs[j].waiting == 0) m_ready.insert(j);
        const size_t helpers = std::min(m_options.workers, m_jobs.size());
        std::vector<std::thread> threads;
        for (size_t i = 1; i < helpers; ++i) threads.emplace_back([this] { Work(); });
        Work();
        for (std::thread& thread : threads) thread.join();
    }

    bool stopped() const { return m_stopped; }

private:
    void Work() {
        std::unique_lock<std::mutex> lock(m_lock);
        for (;;) {
            m_changed.wait(lock, [this] { return !m_ready.empty() || m_unfinished == 0; });
            if (m_ready.empty()) return;
            const size_t job = *m_ready.begin();
            m_ready.erase(m_ready.begin());
            RunJob(m_jobs[job], lock);
            --m_unfinished;
            for (size_t next : m_jobs[job].dependents)
                if (--m_jobs[next].waiting == 0) m_ready.insert(next);
            m_changed.notify_all();
        }
    }

    void RunJob(const Job& job, std::unique_lock<std::mutex>& lock) {
        bool failed = false;
        for (size_t step : job.steps) {
            const TgtCommand& command = m_plan[step];
            const bool lost = (command.op != Op::NewTarget && m_lostTids.count(command.tid)) ||
                              (command.op == Op::BindInitiator && m_incompleteTids.count(command.tid));
            if (failed || m_stopped || lost) {
                Ended(command, false);
                continue;
            }
            lock.unlock();
            const TgtAdmResult result = RunOne(m_adm, command);
            lock.lock();
            if (result.ok) {
                ++m_outcome.done;
            } else {
                failed = true;
                m_outcome.ok = false;
                m_outcome.failures.push_back(result.text);
                (command.op == Op::NewTarget ? m_lostTids : m_incompleteTids).insert(command.tid);
                if (m_options.stopAtFirst) m_stopped = true;
            }
            Ended(command, result.ok);
        }
    }

    void Ended(const TgtCommand& command, bool done) {
        if (m_options.ended) m_options.ended(command, done);
    }

    const TgtAdm& m_adm;
    const std::vector<TgtCommand>& m_plan;
    const ApplyOptions& m_options;
    ApplyOutcome& m_outcome;
    std::vector<Job> m_jobs;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::set<size_t> m_ready;
    size_t m_unfinished = 0;
    bool m_stopped = false;
    std::set<int> m_lostTids;        // their creation failed
    std::set<int> m_incompleteTids;  // a LUN of theirs failed: their host is not admitted
};

// Each request that takes access away is a job of its own: none depends on
// another (a plan either deletes a target or mends it).
std::vector<Job> RemovalJobs(const std::vector<size_t>& steps) {
    std::vector<Job> jobs;
    for (size_t step : steps) jobs.push_back(Job{{step}, {}, 0});
    return jobs;
}

// Per tid: its creation, then one job per LUN (the LUN, its identity), then
// the rest (its rule) once the LUNs are in.
std::vector<Job> GrantJobs(const std::vector<TgtCommand>& plan, const std::vector<size_t>& steps) {
    struct TidJobs {
        long head = -1, tail = -1;
        std::vector<size_t> luns;
    };
    std::vector<Job> jobs;
    std::map<int, TidJobs> byTid;
    std::map<std::pair<int, int>, size_t> lunJob;
    auto make = [&jobs](long& slot) {
        if (slot < 0) {
            slot = static_cast<long>(jobs.size());
            jobs.emplace_back();
        }
        return static_cast<size_t>(slot);
    };
    for (size_t step : steps) {
        const TgtCommand& command = plan[step];
        TidJobs& tid = byTid[command.tid];
        size_t job = 0;
        if (command.op == Op::NewTarget) {
            job = make(tid.head);
        } else if (command.op == Op::NewLun || command.op == Op::SetLunIdentity) {
            const auto found = lunJob.find({command.tid, command.lun});
            if (found != lunJob.end()) {
                job = found->second;
            } else {
                long slot = -1;
                job = make(slot);
                lunJob[{command.tid, command.lun}] = job;
                tid.luns.push_back(job);
            }
        } else {
            job = make(tid.tail);
        }
        jobs[job].steps.push_back(step);
    }
    auto wait = [&jobs](size_t first, size_t then) {
        jobs[first].dependents.push_back(then);
        ++jobs[then].waiting;
    };
    for (const auto& entry : byTid) {
        const TidJobs& tid = entry.second;
        for (size_t lun : tid.luns)
            if (tid.head >= 0) wait(static_cast<size_t>(tid.head), lun);
        if (tid.tail < 0) continue;
        if (tid.head >= 0) wait(static_cast<size_t>(tid.head), static_cast<size_t>(tid.tail));
        for (size_t lun : tid.luns) wait(lun, static_cast<size_t>(tid.tail));
    }
    return jobs;
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

ApplyOutcome ApplyPlan(const TgtAdm& adm, const std::vector<TgtCommand>& plan, const ApplyOptions& options) {
    ApplyOutcome outcome;
    std::vector<size_t> removals, grants;
    for (size_t step = 0; step < plan.size(); ++step) (TakesAccessAway(plan[step].op) ? removals : grants).push_back(step);
    Scheduler first(adm, plan, options, outcome);
    first.Run(RemovalJobs(removals));
    if (first.stopped()) {
        for (size_t step : grants)
            if (options.ended) options.ended(plan[step], false);
        return outcome;
    }
    Scheduler second(adm, plan, options, outcome);
    second.Run(GrantJobs(plan, grants));
    return outcome;
}

}  // namespace zoscsi::tgt
