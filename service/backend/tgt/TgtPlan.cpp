#include "backend/tgt/TgtPlan.h"

#include <map>
#include <set>
#include <utility>

namespace zoscsi::tgt {
namespace {

using Op = TgtCommand::Op;

const TgtLunState* FindLun(const TgtTargetState& target, int lun) {
    for (const TgtLunState& state : target.luns)
        if (state.lun == lun) return &state;
    return nullptr;
}

bool WantsLun(const DesiredTarget& desired, const TgtLunState& lun) {
    for (const DesiredLun& want : desired.luns)
        if (want.lun == lun.lun) return want.path == lun.path;
    return false;
}

// The rules are the host's name and nothing else (or nothing yet).
bool RulesClean(const TgtTargetState& target, const std::string& host) {
    for (const std::string& acl : target.acls)
        if (acl != host) return false;
    return target.acls.size() <= 1;
}

class Planner {
public:
    explicit Planner(TidPool& tids) : m_tids(tids) {}

    void Remove(const TgtTargetState& target) { m_removals.push_back(TgtCommand::Of(Op::DeleteTarget, target.tid)); }

    // An owned target that stays: fix its LUNs and rule in place.
    void Mend(const TgtTargetState& target, const DesiredTarget& desired) {
        for (const TgtLunState& lun : target.luns)
            if (lun.lun != 0 && !WantsLun(desired, lun))
                m_removals.push_back(TgtCommand::Of(Op::DeleteLun, target.tid, lun.lun));
        for (const DesiredLun& want : desired.luns) {
            const TgtLunState* have = FindLun(target, want.lun);
            if (!have || have->path != want.path) AddLun(target.tid, want);
            else if (have->serial != want.serial) m_grants.push_back(TgtCommand::Of(Op::SetLunIdentity, target.tid, want.lun, want.serial));
        }
        if (target.acls.empty()) m_grants.push_back(TgtCommand::Of(Op::BindInitiator, target.tid, 0, desired.host));
    }

    void Create(const DesiredTarget& desired) {
        const int tid = m_tids.Take();
        m_grants.push_back(TgtCommand::Of(Op::NewTarget, tid, 0, desired.iqn));
        for (const DesiredLun& want : desired.luns) AddLun(tid, want);
        m_grants.push_back(TgtCommand::Of(Op::BindInitiator, tid, 0, desired.host));
    }

    std::vector<TgtCommand> Steps() {
        std::vector<TgtCommand> steps = std::move(m_removals);
        steps.insert(steps.end(), m_grants.begin(), m_grants.end());
        return steps;
    }

private:
    void AddLun(int tid, const DesiredLun& want) {
        m_grants.push_back(TgtCommand::Of(Op::NewLun, tid, want.lun, want.path));
        m_grants.push_back(TgtCommand::Of(Op::SetLunIdentity, tid, want.lun, want.serial));
    }

    TidPool& m_tids;  // a target this plan deletes keeps its tid until the plan is done
    std::vector<TgtCommand> m_removals, m_grants;
};

}  // namespace

std::vector<TgtCommand> PlanChanges(const LayoutNames& names, const std::vector<TgtTargetState>& actual,
                                    const Layout& desired, TidPool tids) {
    std::map<std::string, const DesiredTarget*> wanted;
    for (const DesiredTarget& target : desired.targets) wanted[target.iqn] = &target;

    Planner planner(tids);
    std::set<std::string> kept;
    for (const TgtTargetState& target : actual) {
        if (!IsOwned(names, target.name)) continue;
        const auto want = wanted.find(target.name);
        const bool keep = want != wanted.end() && !kept.count(target.name) && RulesClean(target, want->second->host);
        if (!keep) {
            planner.Remove(target);
            continue;
        }
        kept.insert(target.name);
        planner.Mend(target, *want->second);
    }
    for (const DesiredTarget& target : desired.targets)
        if (!kept.count(target.iqn)) planner.Create(target);
    return planner.Steps();
}

std::vector<TgtCommand> PlanChanges(const LayoutNames& names, const std::vector<TgtTargetState>& actual,
                                    const Layout& desired) {
    TidPool tids;
    for (const TgtTargetState& target : actual) tids.Use(target.tid);
    return PlanChanges(names, actual, desired, std::move(tids));
}

}  // namespace zoscsi::tgt
