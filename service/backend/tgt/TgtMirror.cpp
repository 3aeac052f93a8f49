#include "backend/tgt/TgtMirror.h"

namespace zoscsi::tgt {

void TgtMirror::Reset(const InventorySnapshot& inventory) {
    m_luns.clear();
    m_hosts.clear();
    m_pairs.clear();
    m_targets.clear();
    for (const TargetRecord& target : inventory.targets) m_targets[target.name] = target;
    for (const LunRecord& lun : inventory.luns) m_luns[{lun.target, lun.id}] = lun;
    for (const MappingRecord& mapping : inventory.mappings) {
        m_hosts[{mapping.target, mapping.lun}].insert(mapping.host);
        m_pairs[{mapping.target, mapping.host}].insert(mapping.lun);
    }
}

InventorySnapshot TgtMirror::Snapshot() const {
    InventorySnapshot snapshot;
    for (const auto& entry : m_targets) snapshot.targets.push_back(entry.second);
    for (const auto& entry : m_luns) snapshot.luns.push_back(entry.second);
    for (const auto& [key, hosts] : m_hosts)
        for (const std::string& host : hosts) snapshot.mappings.push_back(MappingRecord{key.first, key.second, host});
    return snapshot;
}

LunEntry TgtMirror::Get(const std::string& target, int32_t id) const {
    LunEntry entry;
    const auto lun = m_luns.find({target, id});
    if (lun != m_luns.end()) entry.lun = lun->second;
    const auto hosts = m_hosts.find({target, id});
    if (hosts != m_hosts.end()) entry.hosts.assign(hosts->second.begin(), hosts->second.end());
    return entry;
}

void TgtMirror::Put(const std::string& target, int32_t id, const LunEntry& entry) {
    const LunKey key{target, id};
    const auto old = m_hosts.find(key);
    if (old != m_hosts.end()) {
        for (const std::string& host : old->second) {
            const auto pair = m_pairs.find({target, host});
            if (pair == m_pairs.end()) continue;
            pair->second.erase(id);
            if (pair->second.empty()) m_pairs.erase(pair);
        }
        m_hosts.erase(old);
    }
    if (!entry.lun) {
        m_luns.erase(key);
        return;
    }
    m_luns[key] = *entry.lun;
    if (entry.hosts.empty()) return;
    m_hosts[key].insert(entry.hosts.begin(), entry.hosts.end());
    for (const std::string& host : entry.hosts) m_pairs[{target, host}].insert(id);
}

void TgtMirror::PutTarget(const TargetRecord& target) { m_targets[target.name] = target; }

void TgtMirror::DropTarget(const std::string& target) {
    std::vector<int32_t> ids;
    for (auto lun = m_luns.lower_bound({target, INT32_MIN}); lun != m_luns.end() && lun->first.first == target; ++lun)
        ids.push_back(lun->first.second);
    for (int32_t id : ids) Put(target, id, LunEntry{});
    m_targets.erase(target);
}

std::vector<const LunRecord*> TgtMirror::LunsOf(const std::string& target, const std::string& host) const {
    std::vector<const LunRecord*> luns;
    const auto pair = m_pairs.find({target, host});
    if (pair == m_pairs.end()) return luns;
    for (int32_t id : pair->second) {
        const auto lun = m_luns.find({target, id});
        if (lun != m_luns.end()) luns.push_back(&lun->second);
    }
    return luns;
}

}  // namespace zoscsi::tgt
