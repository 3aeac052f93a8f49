// InventoryQueries: the rows of the inventory, read and written on one
// connection inside a transaction that InventoryStore opened. No rules here
// beyond what the schema enforces; Inventory holds the semantics.
#pragma once

#include "backend/Backend.h"
#include "inventory/ListingLine.h"
#include "inventory/Sqlite.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zoscsi {

// A listing filter; an empty member does not filter.
struct LunFilter {
    std::string target;
    std::string host;
};

// Where a paged listing starts: at this LUN of this target, or after it in
// (target, id) order. The empty key starts at the beginning.
struct LunKey {
    std::string target;
    int32_t id = 0;
};

// A target and what it holds.
struct TargetDetails {
    TargetRecord target;
    int64_t luns = 0;
    int64_t openLuns = 0;
    int64_t mappings = 0;
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
    void ForEachLunLine(const LunFilter& filter, const std::function<void(const std::string& line)>& visit);
    // Each LUN from `from` on with each host it is mapped to (an empty host:
    // unmapped), in the order of the listing lines, until `visit` answers false.
    void ForEachLunDetail(const LunFilter& filter, const LunKey& from,
                          const std::function<bool(const LunRecord& lun, const std::string& host)>& visit);
    void TargetNames(std::vector<std::string>& names);
    void TargetDetailRows(std::vector<TargetDetails>& rows);

    // The size of the full listing (no filter). Counted from the records the
    // first time it is asked for on a connection and kept in a temporary
    // table of that connection, so that it changes with the transaction that
    // changes the records and a rollback restores it with them.
    ListingSize FullListingSize();
    void AddToFullListingSize(const ListingSize& change);

private:
    SqliteDb& m_db;
};

}  // namespace zoscsi
