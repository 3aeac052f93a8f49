#include "backend/tgt/TgtBackend.h"

#include "backend/tgt/LunFiles.h"
#include "backend/tgt/SnapshotEdit.h"
#include "backend/tgt/TgtAdm.h"
#include "backend/tgt/TgtApply.h"
#include "backend/tgt/TgtCeiling.h"
#include "backend/tgt/TgtDaemon.h"
#include "backend/tgt/TgtLayout.h"
#include "backend/tgt/TgtPlan.h"
#include "common/ServiceLog.h"

#include "ZoScsiServer.h"

namespace zoscsi {
namespace tgt {
namespace {

constexpr uint32_t kFabricIscsi = 1;

std::string Joined(const std::vector<std::string>& texts) {
    std::string joined;
    for (const std::string& text : texts) joined += (joined.empty() ? "" : "; ") + text;
    return joined;
}

std::string LunText(const LunRecord& lun) { return lun.target + " LUN " + std::to_string(lun.id); }

int64_t ExportedLuns(const Layout& layout) {
    int64_t luns = 0;
    for (const DesiredTarget& target : layout.targets) luns += static_cast<int64_t>(target.luns.size());
    return luns;
}

TgtAdmSettings AdmSettings(const TgtConfig& config) {
    return TgtAdmSettings{config.tgtadmPath, config.controlPort, config.callLimit};
}

class TgtBackend final : public Backend {
public:
    TgtBackend(const TgtConfig& config, const std::string& clientName, const std::string& dataDir,
               const MachineLimits& limits)
        : m_config(config),
          m_ceiling(ComputeLunCeiling(config, limits)),
          m_names{config.iqnPrefix, clientName, dataDir + "/luns"},
          m_adm(AdmSettings(m_config), BackingStore{config.backingStore, config.backingFlags}),
          m_daemon(m_config, m_adm, dataDir + "/tgtd.log") {}

    const char* Name() const override { return "tgt"; }

    BackendStatus Start(uint32_t fabric, const InventorySnapshot& inventory) override {
        if (fabric != kFabricIscsi)
            return BackendStatus::Fail("fabric " + std::to_string(fabric) + " is not served by tgt (only 1, iSCSI)");
        ServiceLog(1, "TgtBackend::Start", CeilingText(m_ceiling));
        return BringInLine(inventory, false);
    }

    BackendStatus Resync(const InventorySnapshot& inventory) override { return BringInLine(inventory, true); }

    BackendStatus CreateTarget(const TargetRecord& target) override {
        return Change(WithTarget(m_mirror, target));
    }

    BackendStatus DeleteTarget(const TargetRecord& target) override {
        SettleRetired(m_mirror, {});  // its LUNs' files, so that the folder can go too
        BackendStatus status = Change(WithoutTarget(m_mirror, target.name));
        if (status.ok) RemoveFolderIfEmpty(m_names.lunDir + "/" + target.name);
        return status;
    }

    BackendStatus CreateLun(const LunRecord& lun) override {
        const std::string path = LunPath(m_names, lun.target, lun.id);
        std::string error;
        if (!CreateBackingFile(path, lun.sizeBytes, error)) return BackendStatus::Fail(error);
        BackendStatus status = Change(WithLun(m_mirror, lun));
        if (!status.ok && !RemoveBackingFile(path, error)) status.text += "; " + error;
        return status;
    }

    BackendStatus OpenLun(const LunRecord& lun) override {
        if (!HasData(lun)) return MissingData(lun);
        return Change(WithLun(m_mirror, lun));
    }

    BackendStatus CloseLun(const LunRecord& lun) override { return Change(WithLun(m_mirror, lun)); }

    // The file is only retired here: the inventory commits the deletion
    // after this returns, and a kill before that keeps the record, so it must
    // keep the data too. Retired files are settled by the next deletion (the
    // transaction before it has ended by then, and a rollback has brought
    // the mirror back) and by every start.
    BackendStatus DeleteLun(const LunRecord& lun) override {
        SettleRetired(m_mirror, {});
        const InventorySnapshot before = m_mirror;
        BackendStatus status = Change(WithoutLun(m_mirror, lun.target, lun.id));
        if (!status.ok) return status;
        std::string error;
        const std::string path = LunPath(m_names, lun.target, lun.id);
        if (RetireBackingFile(path, error)) {
            m_retired.push_back(path);
            return status;
        }
        const BackendStatus back = Change(before);
        return BackendStatus::Fail(error + (back.ok ? "" : "; and it stays unexported: " + back.text));
    }

    BackendStatus MapHost(const LunRecord& lun, const std::string&, const std::vector<std::string>& hostsAfter) override {
        if (lun.open && !HasData(lun)) return MissingData(lun);  // the host would see nothing
        return Change(WithHosts(m_mirror, lun, hostsAfter));
    }

    BackendStatus UnmapHost(const LunRecord& lun, const std::string&,
                            const std::vector<std::string>& hostsAfter) override {
        return Change(WithHosts(m_mirror, lun, hostsAfter));
    }

    std::string ExportOf(const LunRecord& lun, const std::string& host) const override {
        return lun.open && !host.empty() ? TargetIqn(m_names, lun.target, host) : std::string();
    }

    void Stop() override {
        std::string what = "tgt backend stopped; exports stay in tgtd";
        if (m_config.stopOnExit) {
            // Never start a tgtd only to empty it: a silent one holds nothing.
            const ApplyOutcome cleared = MoveTo(Layout{}, false);
            what = cleared.ok ? "exports removed" : "exports not all removed: " + Joined(cleared.failures);
            if (cleared.ok && m_config.startDaemon) what += "; " + m_daemon.Shutdown();
            m_mirror = InventorySnapshot{};
        }
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

    // The layout of `inventory`; an open LUN whose file is gone is exported
    // nowhere (a blank disk in its place would pass for its data).
    Layout LayoutOf(const InventorySnapshot& inventory) const {
        InventorySnapshot exported = inventory;
        std::vector<std::string> missing;
        for (LunRecord& lun : exported.luns) {
            if (!lun.open) continue;
            const std::string path = LunPath(m_names, lun.target, lun.id);
            if (BackingFileExists(path)) continue;
            lun.open = false;
            missing.push_back("the data of " + LunText(lun) + " is missing (" + path + "); it is not exported");
        }
        Layout layout = ComputeLayout(m_names, exported);
        layout.problems.insert(layout.problems.begin(), missing.begin(), missing.end());
        return layout;
    }

    ApplyOutcome MoveTo(const Layout& layout, bool stopAtFirst) const {
        std::vector<TgtTargetState> actual;
        std::string error;
        if (!ReadTargets(m_adm, actual, error)) return ApplyOutcome{false, {error}, 0};
        return ApplyPlan(m_adm, PlanChanges(m_names, actual, layout), stopAtFirst);
    }

    // Puts back the retired files whose LUN `committed` still holds and
    // removes the others: those this process retired and those in `found`.
    void SettleRetired(const InventorySnapshot& committed, const std::vector<std::string>& found) {
        std::vector<std::string> retired = found;
        retired.insert(retired.end(), m_retired.begin(), m_retired.end());
        m_retired.clear();
        for (const std::string& path : retired) {
            bool keep = false;
            for (const LunRecord& lun : committed.luns) keep = keep || LunPath(m_names, lun.target, lun.id) == path;
            SettleRetiredFile(path, keep);
        }
    }

    BackendStatus BringInLine(const InventorySnapshot& inventory, bool reportProblems) {
        SettleRetired(inventory, RetiredFiles(m_names.lunDir));
        m_daemon.Recheck();  // start and reload always look at tgtd afresh
        const BackendStatus up = m_daemon.Ensure();
        if (!up.ok) return up;
        const Layout layout = LayoutOf(inventory);
        const BackendStatus admitted = Admit(layout);
        if (!admitted.ok) return admitted;
        const ApplyOutcome outcome = MoveTo(layout, false);
        m_mirror = inventory;
        m_exported = ExportedLuns(layout);
        if (!layout.problems.empty()) ServiceLog(-1, "TgtBackend", Joined(layout.problems));
        if (!outcome.ok) return BackendStatus::Fail(Joined(outcome.failures));
        if (reportProblems && !layout.problems.empty())
            return BackendStatus::Fail("tgtd holds the inventory but for: " + Joined(layout.problems));
        return BackendStatus::Ok();
    }

    // Refuses, before anything is made, a layout that would take tgtd past
    // what this machine can serve.
    BackendStatus Admit(const Layout& layout) const {
        const std::string past = PastCeiling(m_ceiling, ExportedLuns(layout), m_exported);
        return past.empty() ? BackendStatus::Ok() : BackendStatus::Refuse(ZoScsiServer::kErrLimit, past);
    }

    // Makes tgtd hold `after`; on failure puts it back to the copy held so far.
    BackendStatus Change(const InventorySnapshot& after) {
        const BackendStatus up = m_daemon.Ensure();
        if (!up.ok) return up;
        const Layout layout = LayoutOf(after);
        const BackendStatus admitted = Admit(layout);
        if (!admitted.ok) return admitted;
        ApplyOutcome outcome = MoveTo(layout, true);
        if (!outcome.ok) {
            // tgtd may have died (a new one is started, empty, and gets all
            // of the layout) or another user of it may have taken a tid.
            m_daemon.Recheck();
            const BackendStatus again = m_daemon.Ensure();
            if (!again.ok) return BackendStatus::Fail(outcome.failures.front() + "; " + again.text);
            outcome = MoveTo(layout, true);
        }
        if (outcome.ok) {
            m_mirror = after;
            m_exported = ExportedLuns(layout);
            return BackendStatus::Ok();
        }
        std::string text = outcome.failures.front();
        const ApplyOutcome back = MoveTo(LayoutOf(m_mirror), false);
        if (!back.ok) text += "; tgtd could not be put back as it was: " + Joined(back.failures);
        return BackendStatus::Fail(text);
    }

    TgtConfig m_config;
    LunCeiling m_ceiling;    // read once: the machine's limits do not follow later changes
    int64_t m_exported = 0;  // tgt LUNs of the layout tgtd was last brought to
    LayoutNames m_names;
    TgtAdm m_adm;
    TgtDaemon m_daemon;
    InventorySnapshot m_mirror;
    std::vector<std::string> m_retired;  // live paths of the files retired since the last settling
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
