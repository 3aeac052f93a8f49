#include "backend/tgt/TgtBackend.h"

#include "backend/tgt/LunFiles.h"
#include "backend/tgt/RestoreTask.h"
#include "backend/tgt/TgtAdm.h"
#include "backend/tgt/TgtApply.h"
#include "backend/tgt/TgtCeiling.h"
#include "backend/tgt/TgtClaim.h"
#include "backend/tgt/TgtDaemon.h"
#include "backend/tgt/TgtLayout.h"
#include "backend/tgt/TgtMirror.h"
#include "backend/tgt/TgtModel.h"
#include "backend/tgt/TgtPlan.h"
#include "common/ServiceLog.h"

#include "ZoScsiServer.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>

namespace zoscsi {
namespace tgt {
namespace {

constexpr uint32_t kFabricIscsi = 1;
// A plan of up to this many requests is carried out before Start or Resync
// returns; a longer one (a restore after tgtd lost its exports) runs on.
constexpr size_t kInlineSteps = 32;

std::string Joined(const std::vector<std::string>& texts) {
    std::string joined;
    for (const std::string& text : texts) joined += (joined.empty() ? "" : "; ") + text;
    return joined;
}

// The first few failures of a plan and how many more there were.
std::string Summary(const std::vector<std::string>& failures) {
    constexpr size_t kShown = 3;
    if (failures.size() <= kShown) return Joined(failures);
    const std::vector<std::string> first(failures.begin(), failures.begin() + kShown);
    return Joined(first) + "; and " + std::to_string(failures.size() - kShown) + " more failed requests";
}

std::string LunText(const LunRecord& lun) { return lun.target + " LUN " + std::to_string(lun.id); }

TgtAdmSettings AdmSettings(const TgtConfig& config) {
    return TgtAdmSettings{config.tgtadmPath, config.controlPort, config.callLimit};
}

int64_t ExportedLuns(const Layout& layout) {
    int64_t luns = 0;
    for (const DesiredTarget& target : layout.targets) luns += static_cast<int64_t>(target.luns.size());
    return luns;
}

std::vector<std::string> Union(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    std::vector<std::string> all;
    std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(all));
    return all;
}

struct Retired {
    std::string target;
    int32_t id = 0;
    std::string path;  // the live path; the file is at its retired name
};

// Ownership of the model and the mirror: the backend's calls take m_lock. A
// restore running in the background uses them without the lock: every call
// that could change them waits for the restore to end before it locks, and
// a restore is only started under the lock.
class TgtBackend final : public Backend {
public:
    TgtBackend(const TgtConfig& config, const std::string& clientName, const std::string& dataDir,
               const MachineLimits& limits)
        : m_config(config),
          m_ceiling(ComputeLunCeiling(config, limits)),
          m_names{config.iqnPrefix, clientName, dataDir + "/luns"},
          m_dataDir(dataDir),
          m_adm(AdmSettings(m_config), BackingStore{config.backingStore, config.backingFlags}),
          m_daemon(m_config, m_adm, dataDir + "/tgtd.log"),
          m_model(m_names) {}

    ~TgtBackend() override { m_restore.Join(); }

    const char* Name() const override { return "tgt"; }

    BackendStatus Start(uint32_t fabric, const InventorySnapshot& inventory) override {
        if (fabric != kFabricIscsi)
            return BackendStatus::Fail("fabric " + std::to_string(fabric) + " is not served by tgt (only 1, iSCSI)");
        ServiceLog(1, "TgtBackend::Start", CeilingText(m_ceiling));
        return BringInLine(inventory, false);
    }

    BackendStatus Resync(const InventorySnapshot& inventory) override { return BringInLine(inventory, true); }

    BackendStatus AwaitReady() override {
        if (!m_restore.Await(m_config.restoreWait)) return Busy();
        std::lock_guard<std::mutex> lock(m_stateLock);
        return m_failure.empty() ? BackendStatus::Ok() : BackendStatus::Fail(m_failure);
    }

    // A change or start while a restore runs: busy, with how far it has come.
    BackendStatus Busy() const { return BackendStatus::Refuse(ZoScsiServer::kErrBusy, m_restore.Progress()); }

    std::string State() const override {
        if (m_restore.running()) return m_restore.Progress();
        std::lock_guard<std::mutex> lock(m_stateLock);
        return m_failure.empty() ? "ready" : "not in line with the inventory: " + m_failure;
    }

    BackendStatus CreateTarget(const TargetRecord& target) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_mirror.PutTarget(target);
        return BackendStatus::Ok();
    }

    // A target is deleted only without LUNs: nothing of it is in tgtd.
    BackendStatus DeleteTarget(const TargetRecord& target) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_mirror.DropTarget(target.name);
        RemoveFolderIfEmpty(m_names.lunDir + "/" + target.name);
        return BackendStatus::Ok();
    }

    BackendStatus CreateLun(const LunRecord& lun) override {
        const std::string path = LunPath(m_names, lun.target, lun.id);
        std::string error;
        if (!CreateBackingFile(path, lun.sizeBytes, error)) return BackendStatus::Fail(error);
        BackendStatus status = Change(lun, {});
        if (!status.ok && !RemoveBackingFile(path, error)) status.text += "; " + error;
        return status;
    }

    BackendStatus OpenLun(const LunRecord& lun) override {
        if (!HasData(lun)) return MissingData(lun);
        return Change(lun, HostsOf(lun));
    }

    BackendStatus CloseLun(const LunRecord& lun) override { return Change(lun, HostsOf(lun)); }

    // The file is only retired here (renamed): the inventory commits the
    // deletion after this returns, and a kill before that keeps the record,
    // so it must keep the data too. Committed() removes it right after the
    // commit; a start settles what a kill left.
    BackendStatus DeleteLun(const LunRecord& lun) override {
        const LunEntry before = Entry(lun);
        BackendStatus status = Change(std::nullopt, lun.target, lun.id, {});
        if (!status.ok) return status;
        std::string error;
        const std::string path = LunPath(m_names, lun.target, lun.id);
        if (RetireBackingFile(path, error)) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_retired.push_back(Retired{lun.target, lun.id, path});
            return status;
        }
        const BackendStatus back = Change(before.lun, lun.target, lun.id, before.hosts);
        return BackendStatus::Fail(error + (back.ok ? "" : "; and it stays unexported: " + back.text));
    }

    BackendStatus MapHost(const LunRecord& lun, const std::string&, const std::vector<std::string>& hostsAfter) override {
        if (lun.open && !HasData(lun)) return MissingData(lun);  // the host would see nothing
        return Change(lun, hostsAfter);
    }

    BackendStatus UnmapHost(const LunRecord& lun, const std::string&,
                            const std::vector<std::string>& hostsAfter) override {
        return Change(lun, hostsAfter);
    }

    std::string ExportOf(const LunRecord& lun, const std::string& host) const override {
        return lun.open && !host.empty() ? TargetIqn(m_names, lun.target, host) : std::string();
    }

    void Committed() override {
        std::lock_guard<std::mutex> lock(m_lock);
        for (const Retired& retired : m_retired)
            SettleRetiredFile(retired.path, m_mirror.Get(retired.target, retired.id).lun.has_value());
        m_retired.clear();
    }

    void Stop() override {
        m_restore.Join();  // a restore is never left half-way
        std::lock_guard<std::mutex> lock(m_lock);
        std::string what = "tgt backend stopped; exports stay in tgtd";
        if (m_config.stopOnExit && m_claim.held()) {
            // Never start a tgtd only to empty it: a silent one holds nothing.
            ApplyOutcome cleared{false, {}, 0};
            const BackendStatus read = ReadModel();
            if (read.ok)
                cleared = Apply(PlanChanges(m_names, m_model.Owned(), Layout{}, m_model.tids()), Workers(), nullptr);
            else
                cleared.failures.push_back(read.text);
            what = cleared.ok ? "exports removed" : "exports not all removed: " + Summary(cleared.failures);
            if (cleared.ok && m_config.startDaemon) what += "; " + m_daemon.Shutdown();
        }
        m_claim.Release();
        ServiceLog(1, "TgtBackend::Stop",
                   what + " (" + std::to_string(m_adm.calls()) + " tgtadm calls, " +
                       std::to_string(m_adm.spent().count()) + " ms)");
    }

private:
    bool HasData(const LunRecord& lun) const { return BackingFileExists(LunPath(m_names, lun.target, lun.id)); }
    BackendStatus MissingData(const LunRecord& lun) const {
        return BackendStatus::Fail("the data of " + LunText(lun) + " is missing (" +
                                   LunPath(m_names, lun.target, lun.id) + ")");
    }

    LunEntry Entry(const LunRecord& lun) {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_mirror.Get(lun.target, lun.id);
    }
    std::vector<std::string> HostsOf(const LunRecord& lun) { return Entry(lun).hosts; }

    void SetFailure(const std::string& text) {
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_failure = text;
    }

    BackendStatus Change(const LunRecord& lun, std::vector<std::string> hosts) {
        std::sort(hosts.begin(), hosts.end());
        return Change(lun, lun.target, lun.id, hosts);
    }

    // Makes tgtd hold the LUN `target`/`id` as `lun` (none: gone) mapped to
    // `hosts`: only the tgt targets of the pairs it touches are planned, on
    // the model. When a request fails, tgtd is read again and the whole
    // inventory brought in line (tgtd may have died and come back empty);
    // when that fails too, the mirror and tgtd go back to before.
    BackendStatus Change(const std::optional<LunRecord>& lun, const std::string& target, int32_t id,
                         const std::vector<std::string>& hosts) {
        if (!m_restore.Await(m_config.restoreWait)) return Busy();
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_claim.held()) return BackendStatus::Fail("the tgt backend has not started");
        const LunEntry before = m_mirror.Get(target, id);
        const std::vector<std::string> touched = Union(before.hosts, hosts);
        for (const std::string& host : touched)
            if (const ForeignTarget* foreign = m_model.FindForeign(TargetIqn(m_names, target, host)))
                return BackendStatus::Fail(ForeignText(*foreign));
        m_mirror.Put(target, id, LunEntry{lun, hosts});
        int64_t growth = 0;
        const std::vector<TgtCommand> plan = PlanPairs(target, touched, growth);
        const int64_t held = static_cast<int64_t>(m_model.lunCount());
        const std::string past = PastCeiling(m_ceiling, held + growth, held);
        if (!past.empty()) {
            m_mirror.Put(target, id, before);
            return BackendStatus::Refuse(ZoScsiServer::kErrLimit, past);
        }

        std::string failure;
        if (m_inLine && !touched.empty()) {
            const unsigned launches = m_daemon.launches();
            const BackendStatus up = m_daemon.Ensure();
            if (!up.ok) failure = up.text;
            else if (m_daemon.launches() != launches) m_inLine = false;  // a new tgtd holds nothing yet
            else {
                const ApplyOutcome outcome = Apply(plan, 1, nullptr);
                if (outcome.ok) return BackendStatus::Ok();
                failure = outcome.failures.front();
                m_daemon.Recheck();
            }
        } else if (m_inLine) {
            return BackendStatus::Ok();  // nothing of it is exported
        }
        const BackendStatus synced = SyncNow();
        if (synced.ok) return BackendStatus::Ok();
        if (failure.empty()) failure = synced.text;
        m_mirror.Put(target, id, before);
        const BackendStatus back = SyncNow();
        return BackendStatus::Fail(failure + (back.ok ? "" : "; tgtd could not be put back as it was: " + back.text));
    }

    std::string ForeignText(const ForeignTarget& foreign) const {
        return "tgt target " + foreign.iqn + " (tid " + std::to_string(foreign.tid) +
               ") holds LUNs that are not this inventory's (" + foreign.owner + "); it is left alone";
    }

    // The tgt targets of `target` and each of `hosts`, planned on the model;
    // `growth`: the LUNs tgtd holds more afterwards. An open LUN whose file
    // is gone is left out; only a LUN that tgtd does not serve yet has its
    // file looked at.
    std::vector<TgtCommand> PlanPairs(const std::string& target, const std::vector<std::string>& hosts,
                                      int64_t& growth) const {
        Layout desired;
        std::vector<std::string> iqns;
        for (const std::string& host : hosts) {
            std::vector<const LunRecord*> exported;
            for (const LunRecord* lun : m_mirror.LunsOf(target, host))
                if (lun->open) exported.push_back(lun);
            DesiredTarget want = DesiredPair(m_names, target, host, exported);
            iqns.push_back(want.iqn);
            const TgtTargetState* held = m_model.Find(want.iqn);
            auto missing = [&](const DesiredLun& lun) {
                if (held)
                    for (const TgtLunState& have : held->luns)
                        if (have.lun == lun.lun && have.path == lun.path) return false;
                return !BackingFileExists(lun.path);
            };
            want.luns.erase(std::remove_if(want.luns.begin(), want.luns.end(), missing), want.luns.end());
            growth += static_cast<int64_t>(want.luns.size()) - (held ? static_cast<int64_t>(held->luns.size()) - 1 : 0);
            if (!want.luns.empty()) desired.targets.push_back(std::move(want));
        }
        return PlanChanges(m_names, m_model.Owned(iqns), desired, m_model.tids());
    }

    // The layout of the whole mirror; an open LUN whose file is gone is
    // exported nowhere (a blank disk in its place would pass for its data),
    // and a target another inventory holds under our name is left alone.
    Layout FullLayout() const {
        InventorySnapshot exported = m_mirror.Snapshot();
        std::vector<std::string> problems;
        for (LunRecord& lun : exported.luns) {
            if (!lun.open) continue;
            const std::string path = LunPath(m_names, lun.target, lun.id);
            if (BackingFileExists(path)) continue;
            lun.open = false;
            problems.push_back("the data of " + LunText(lun) + " is missing (" + path + "); it is not exported");
        }
        Layout layout = ComputeLayout(m_names, exported);
        auto foreign = [&](const DesiredTarget& target) {
            const ForeignTarget* found = m_model.FindForeign(target.iqn);
            if (found) problems.push_back(ForeignText(*found));
            return found != nullptr;
        };
        layout.targets.erase(std::remove_if(layout.targets.begin(), layout.targets.end(), foreign),
                             layout.targets.end());
        layout.problems.insert(layout.problems.begin(), problems.begin(), problems.end());
        return layout;
    }

    // Replaces the model with what tgtd shows.
    BackendStatus ReadModel() {
        std::vector<TgtTargetState> shown;
        std::string error;
        if (!ReadTargets(m_adm, shown, error)) return BackendStatus::Fail(error);
        m_model.Load(shown);
        return BackendStatus::Ok();
    }

    // Reads tgtd into the model and plans the whole mirror on it, unless
    // that would take tgtd past its ceiling.
    BackendStatus Survey(std::vector<TgtCommand>& plan, std::vector<std::string>& problems) {
        BackendStatus status = m_daemon.Ensure();
        if (status.ok) status = ReadModel();
        if (!status.ok) return status;
        const Layout layout = FullLayout();
        const std::string past =
            PastCeiling(m_ceiling, ExportedLuns(layout), static_cast<int64_t>(m_model.lunCount()));
        if (!past.empty()) return BackendStatus::Refuse(ZoScsiServer::kErrLimit, past);
        problems = layout.problems;
        plan = PlanChanges(m_names, m_model.Owned(), layout, m_model.tids());
        return BackendStatus::Ok();
    }

    size_t Workers() const { return static_cast<size_t>(m_config.parallelCalls); }

    ApplyOutcome Apply(const std::vector<TgtCommand>& plan, size_t workers, const std::function<void()>& advance) {
        ApplyOptions options;
        options.workers = workers;
        options.stopAtFirst = workers == 1;
        options.ended = [&](const TgtCommand& command, bool done) {
            if (done) m_model.Apply(command);
            if (advance) advance();
        };
        return ApplyPlan(m_adm, plan, options);
    }

    // Carries a whole-inventory plan out, several requests at once; when
    // some failed, reads tgtd again and runs what is still missing once more.
    BackendStatus Carry(const std::vector<TgtCommand>& plan, RestoreTask* progress) {
        const auto advance = [progress] {
            if (progress) progress->Advance();
        };
        const size_t workers = Workers();
        ApplyOutcome outcome = Apply(plan, workers, advance);
        if (!outcome.ok) {
            m_daemon.Recheck();
            std::vector<TgtCommand> again;
            std::vector<std::string> problems;
            const BackendStatus surveyed = Survey(again, problems);
            if (!surveyed.ok) outcome.failures.push_back(surveyed.text);
            else {
                if (progress) progress->Recount(again.size());
                outcome = Apply(again, workers, advance);
            }
        }
        m_inLine = outcome.ok;
        return outcome.ok ? BackendStatus::Ok() : BackendStatus::Fail(Summary(outcome.failures));
    }

    // Brings tgtd in line with the whole mirror before returning.
    BackendStatus SyncNow() {
        std::vector<TgtCommand> plan;
        std::vector<std::string> problems;
        BackendStatus status = Survey(plan, problems);
        if (status.ok) status = Carry(plan, nullptr);
        else m_inLine = false;
        SetFailure(status.ok ? "" : status.text);
        return status;
    }

    // Takes this name space's claim, or says who has it.
    BackendStatus TakeClaim(bool& taken) {
        taken = false;
        if (m_claim.held()) return BackendStatus::Ok();
        std::string error;
        if (!m_claim.Take(m_config.claimDir, m_config.controlPort, OwnedNamespace(m_names), error))
            return BackendStatus::Fail(error + "; this instance (state folder " + m_dataDir + ") leaves it alone");
        taken = true;
        return BackendStatus::Ok();
    }

    // Once the model is read: the name space must hold nothing of another
    // inventory (LUN files elsewhere, or anything at all while the claim
    // names another state folder as its last holder).
    std::string OtherOwner() const {
        const TgtClaim::Holder& last = m_claim.previous();
        const bool lastWasOther = !last.stateFolder.empty() && last.stateFolder != m_dataDir;
        const size_t held = m_model.foreign().size() + (lastWasOther ? m_model.ownedCount() : 0);
        if (held == 0) return "";
        const std::string files = m_model.foreign().empty() ? "" : m_model.foreign().front().owner;
        const std::string who =
            lastWasOther && (files.empty() || files == last.stateFolder)
                ? "the inventory in state folder " + last.stateFolder + ", last driven by pid " +
                      std::to_string(last.pid) + ", which has ended"
                : "their LUN files are under " + files;
        return "tgtd on control port " + std::to_string(m_config.controlPort) + " holds " + std::to_string(held) +
               " target(s) under " + OwnedNamespace(m_names) + " that this inventory did not make (" + who +
               "); this instance (state folder " + m_dataDir + ") leaves them alone and does not drive that name space";
    }

    BackendStatus BringInLine(const InventorySnapshot& inventory, bool reportProblems) {
        if (!m_restore.Await(m_config.restoreWait)) return Busy();
        m_restore.Join();
        std::lock_guard<std::mutex> lock(m_lock);
        SettleRetired(inventory);
        m_mirror.Reset(inventory);
        m_daemon.Recheck();  // start and reload always look at tgtd afresh
        m_inLine = false;

        bool taken = false;
        BackendStatus status = TakeClaim(taken);
        if (!status.ok) return status;
        std::vector<TgtCommand> plan;
        std::vector<std::string> problems;
        status = Survey(plan, problems);
        if (status.ok && taken) {
            const std::string other = OtherOwner();
            std::string error;
            if (!other.empty()) status = BackendStatus::Fail(other);
            else if (!m_claim.Record(m_dataDir, error)) status = BackendStatus::Fail(error);
        }
        if (!status.ok) {
            if (taken) m_claim.Release();
            SetFailure(status.text);
            return status;
        }
        if (!problems.empty()) ServiceLog(-1, "TgtBackend", Joined(problems));
        const BackendStatus reported = reportProblems && !problems.empty()
                                           ? BackendStatus::Fail("tgtd holds the inventory but for: " + Joined(problems))
                                           : BackendStatus::Ok();
        if (plan.size() <= kInlineSteps) {
            const BackendStatus carried = Carry(plan, nullptr);
            SetFailure(carried.ok ? "" : carried.text);
            return carried.ok ? reported : carried;
        }
        SetFailure("");
        m_restore.Start(plan.size(), [this, plan] { Restore(plan); });
        return reported;
    }

    // The background part of a start or reload.
    void Restore(const std::vector<TgtCommand>& plan) {
        const auto began = std::chrono::steady_clock::now();
        const uint64_t calls = m_adm.calls();
        const BackendStatus status = Carry(plan, &m_restore);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began).count();
        SetFailure(status.ok ? "" : status.text);
        ServiceLog(status.ok ? 1 : -1, "TgtBackend::Restore",
                   (status.ok ? "exports restored: " : "exports not all restored: " + status.text + "; ") +
                       std::to_string(m_adm.calls() - calls) + " tgtadm calls in " + std::to_string(ms) + " ms");
    }

    // Puts back the retired files whose LUN `committed` still holds and
    // removes the others: those this process retired and those a kill left.
    void SettleRetired(const InventorySnapshot& committed) {
        std::set<std::string> live;
        for (const LunRecord& lun : committed.luns) live.insert(LunPath(m_names, lun.target, lun.id));
        std::vector<std::string> retired = RetiredFiles(m_names.lunDir);
        for (const Retired& mine : m_retired) retired.push_back(mine.path);
        m_retired.clear();
        for (const std::string& path : retired) SettleRetiredFile(path, live.count(path) != 0);
    }

    TgtConfig m_config;
    LunCeiling m_ceiling;  // read once: the machine's limits do not follow later changes
    LayoutNames m_names;
    std::string m_dataDir;
    TgtAdm m_adm;
    TgtDaemon m_daemon;
    TgtClaim m_claim;
    std::mutex m_lock;  // the model, the mirror, the retired files, the claim
    TgtModel m_model;
    TgtMirror m_mirror;
    bool m_inLine = false;  // tgtd holds the mirror, as far as the model knows
    std::vector<Retired> m_retired;  // deleted since the last commit
    mutable std::mutex m_stateLock;
    std::string m_failure;  // why tgtd is not in line, after the last start, reload or restore
    RestoreTask m_restore;
};

}  // namespace

std::unique_ptr<Backend> MakeTgtBackendWith(const TgtConfig& config, const std::string& clientName,
                                            const std::string& dataDir, const MachineLimits& limits) {
    return std::make_unique<TgtBackend>(config, clientName, dataDir, limits);
}

}  // namespace tgt

std::unique_ptr<Backend> MakeTgtBackend(const BackendContext& context, std::string& error) {
    tgt::TgtConfig config;
    if (!tgt::LoadTgtConfig(context.setting, config, error)) return nullptr;
    return tgt::MakeTgtBackendWith(config, context.clientName, context.dataDir, tgt::ReadMachineLimits());
}

}  // namespace zoscsi
