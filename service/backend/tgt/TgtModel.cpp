#include "backend/tgt/TgtModel.h"

#include <algorithm>

namespace zoscsi::tgt {
namespace {

using Op = TgtCommand::Op;

// The state folder a LUN file lies in (the folder above ".../luns/"), or the
// file itself when it is not laid out that way.
std::string OwnerOf(const std::string& path) {
    const size_t luns = path.rfind("/luns/");
    return luns == std::string::npos || luns == 0 ? path : path.substr(0, luns);
}

}  // namespace

void TidPool::Free(int tid) {
    if (m_used.erase(tid) != 0) m_lowestFree = std::min(m_lowestFree, tid);
}

int TidPool::Take() {
    while (m_used.count(m_lowestFree)) ++m_lowestFree;
    m_used.insert(m_lowestFree);
    return m_lowestFree++;
}

bool TgtModel::Ours(const TgtTargetState& target, std::string& owner) const {
    const std::string folder = m_names.lunDir + "/";
    for (const TgtLunState& lun : target.luns) {
        if (lun.lun == 0 || lun.path.compare(0, folder.size(), folder) == 0) continue;
        owner = OwnerOf(lun.path);
        return false;
    }
    return true;
}

void TgtModel::Load(const std::vector<TgtTargetState>& shown) {
    m_owned.clear();
    m_tidOf.clear();
    m_foreign.clear();
    m_tids = TidPool();
    m_luns = 0;
    for (const TgtTargetState& target : shown) {
        m_tids.Use(target.tid);
        if (!IsOwned(m_names, target.name)) continue;
        std::string owner;
        if (!Ours(target, owner)) {
            m_foreign.push_back(ForeignTarget{target.tid, target.name, owner});
            continue;
        }
        TgtTargetState kept = target;
        kept.nexuses.clear();  // sessions come and go without us
        m_luns += kept.luns.empty() ? 0 : kept.luns.size() - 1;
        m_tidOf[kept.name] = kept.tid;
        m_owned[kept.tid] = std::move(kept);
    }
}

void TgtModel::Apply(const TgtCommand& done) {
    if (done.op == Op::NewTarget) {
        m_tids.Use(done.tid);
        TgtTargetState target{done.tid, done.text, {{0, "None", ""}}, {}, {}};
        m_tidOf[done.text] = done.tid;
        m_owned[done.tid] = std::move(target);
        return;
    }
    if (done.op == Op::DeleteTarget) {
        const auto found = m_owned.find(done.tid);
        if (found != m_owned.end()) {
            m_luns -= found->second.luns.empty() ? 0 : found->second.luns.size() - 1;
            m_tidOf.erase(found->second.name);
            m_owned.erase(found);
        }
        m_tids.Free(done.tid);
        return;
    }
    const auto found = m_owned.find(done.tid);
    if (found == m_owned.end()) return;
    TgtTargetState& target = found->second;
    auto lun = std::find_if(target.luns.begin(), target.luns.end(),
                            [&](const TgtLunState& l) { return l.lun == done.lun; });
    switch (done.op) {
    case Op::NewLun:
        // tgtd gives a new LUN an identity of its own until ours is set.
        if (lun == target.luns.end()) {
            target.luns.push_back(TgtLunState{done.lun, done.text, ""});
            ++m_luns;
        }
        break;
    case Op::DeleteLun:
        if (lun != target.luns.end()) {
            target.luns.erase(lun);
            --m_luns;
        }
        break;
    case Op::SetLunIdentity:
        if (lun != target.luns.end()) lun->serial = done.text;
        break;
    case Op::BindInitiator:
        target.acls.push_back(done.text);
        break;
    case Op::UnbindInitiator:
        target.acls.erase(std::remove(target.acls.begin(), target.acls.end(), done.text), target.acls.end());
        break;
    default:
        break;
    }
}

std::vector<TgtTargetState> TgtModel::Owned() const {
    std::vector<TgtTargetState> owned;
    owned.reserve(m_owned.size());
    for (const auto& entry : m_owned) owned.push_back(entry.second);
    return owned;
}

std::vector<TgtTargetState> TgtModel::Owned(const std::vector<std::string>& iqns) const {
    std::vector<TgtTargetState> owned;
    for (const std::string& iqn : iqns)
        if (const TgtTargetState* target = Find(iqn)) owned.push_back(*target);
    return owned;
}

const TgtTargetState* TgtModel::Find(const std::string& iqn) const {
    const auto tid = m_tidOf.find(iqn);
    return tid == m_tidOf.end() ? nullptr : &m_owned.at(tid->second);
}

const ForeignTarget* TgtModel::FindForeign(const std::string& iqn) const {
    for (const ForeignTarget& target : m_foreign)
        if (target.iqn == iqn) return &target;
    return nullptr;
}

std::vector<std::string> TgtModel::Describe() const {
    std::vector<std::string> lines;
    for (const auto& [tid, target] : m_owned) {
        std::string line = std::to_string(tid) + " " + target.name + " |";
        std::vector<TgtLunState> luns = target.luns;
        std::sort(luns.begin(), luns.end(), [](const TgtLunState& a, const TgtLunState& b) { return a.lun < b.lun; });
        for (const TgtLunState& lun : luns)
            if (lun.lun != 0) line += " " + std::to_string(lun.lun) + ":" + lun.path + ":" + lun.serial;
        std::vector<std::string> acls = target.acls;
        std::sort(acls.begin(), acls.end());
        line += " |";
        for (const std::string& acl : acls) line += " " + acl;
        lines.push_back(line);
    }
    for (const ForeignTarget& target : m_foreign)
        lines.push_back(std::to_string(target.tid) + " " + target.iqn + " | foreign " + target.owner);
    std::sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace zoscsi::tgt
