// InventoryQueries: the rows of the inventory, read and written on one
// connection inside a transaction that InventoryStore opened. No rules here
// beyond what the schema enforces; Inventory holds the semantics.
#pragma once

#include "backend/Backend.h"
#include "inventory/Sqlite.h"

#include <optional>
#include <string>
#include <vector>

namespace zoscsi {

// A listing filter; an empty member does not filter.
struct LunFilter {
    std::string target;
    std::string host;
};

struct InventoryCounts {
    int64_t targets = 0;
    int64_t luns = 0;
    int64_t openLuns = 0;
    int64_t mappings = 0;
};

class InventoryQueries {
public:
    explicit InventoryQueries(SqliteDb& db) : m_db(db) {}

    std::optional<TargetRecord> FindTarget(const std::string& name);
    std::optional<LunRecord> FindLun(const std::string& target, int32_t id);
    int64_t CountLuns(const std::string& target);
    // The hosts a LUN is mapped to, sorted.
    std::vector<std::string> HostsOf(const std::string& target, int32_t id);
    bool HasMapping(const std::string& target, int32_t id, const std::string& host);
    // The lowest id from 1 not used in `target`; 0 when every id up to `maxId` is taken.
    int32_t LowestFreeLunId(const std::string& target, int32_t maxId);
    InventoryCounts Counts();

    void InsertTarget(const TargetRecord& target);
    void DeleteTarget(const std::string& name);
    void InsertLun(const LunRecord& lun);
    void SetLunOpen(const std::string& target, int32_t id, bool open);
    void DeleteLun(const std::string& target, int32_t id);
    void InsertMapping(const MappingRecord& mapping, int64_t created);
    void DeleteMapping(const MappingRecord& mapping);

    // Everything, each kind sorted by its key.
    InventorySnapshot Snapshot();
    // Listing lines (ListingLine.h) in target, LUN id, host order; one query.
    void LunLines(const LunFilter& filter, std::vector<std::string>& lines);
    void TargetNames(std::vector<std::string>& names);

private:
    SqliteDb& m_db;
};

}  // namespace zoscsi
