#include "inventory/InventoryQueries.h"

#include "inventory/ListingLine.h"

namespace zoscsi {
namespace {

constexpr const char* kLunColumns = "target, id, name, size, setting, options, open, created";
// The same in a listing's join (LunFromRow reads them), then the host.
constexpr const char* kListingLunColumns =
    "l.target, l.id, l.name, l.size, l.setting, l.options, l.open, l.created, m.host";

LunRecord LunFromRow(const SqliteStatement& row) {
    LunRecord lun;
    lun.target = row.Text(0);
    lun.id = static_cast<int32_t>(row.Int(1));
    lun.name = row.Text(2);
    lun.sizeBytes = static_cast<uint64_t>(row.Int(3));
    lun.setting = static_cast<uint32_t>(row.Int(4));
    lun.options = row.Text(5);
    lun.open = row.Int(6) != 0;
    lun.created = row.Int(7);
    return lun;
}

// The listing's join of LUNs and their hosts in listing order. The WHERE
// clause names only the filters in use, so each variant can use its index; a
// host filter leaves out unmapped LUNs. Parameters: ?1 target, ?2 host, and
// with `paged` ?3 and ?4, the (target, id) to start at.
std::string ListingQuery(const std::string& columns, const LunFilter& filter, bool paged) {
    std::string sql = "SELECT " + columns +
                      " FROM luns AS l LEFT JOIN mappings AS m ON m.target = l.target AND m.lun = l.id WHERE 1";
    if (!filter.target.empty()) sql += " AND l.target = ?1";
    if (!filter.host.empty()) sql += " AND m.host = ?2";
    if (paged) sql += " AND (l.target, l.id) >= (?3, ?4)";
    return sql + " ORDER BY l.target, l.id, m.host";
}

void BindFilter(SqliteStatement& row, const LunFilter& filter) {
    if (!filter.target.empty()) row.Bind(1, filter.target);
    if (!filter.host.empty()) row.Bind(2, filter.host);
}

}  // namespace

std::optional<TargetRecord> InventoryQueries::FindTarget(const std::string& name) {
    SqliteStatement row(m_db, "SELECT name, params, created FROM targets WHERE name = ?1");
    row.Bind(1, name);
    if (!row.Step()) return std::nullopt;
    return TargetRecord{row.Text(0), row.Text(1), row.Int(2)};
}

std::optional<LunRecord> InventoryQueries::FindLun(const std::string& target, int32_t id) {
    const std::string sql = std::string("SELECT ") + kLunColumns + " FROM luns WHERE target = ?1 AND id = ?2";
    SqliteStatement row(m_db, sql.c_str());
    row.Bind(1, target).Bind(2, int64_t{id});
    if (!row.Step()) return std::nullopt;
    return LunFromRow(row);
}

int64_t InventoryQueries::CountLuns(const std::string& target) {
    SqliteStatement row(m_db, "SELECT count(*) FROM luns WHERE target = ?1");
    row.Bind(1, target);
    return row.Step() ? row.Int(0) : 0;
}

std::vector<std::string> InventoryQueries::HostsOf(const std::string& target, int32_t id) {
    SqliteStatement row(m_db, "SELECT host FROM mappings WHERE target = ?1 AND lun = ?2 ORDER BY host");
    row.Bind(1, target).Bind(2, int64_t{id});
    std::vector<std::string> hosts;
    while (row.Step()) hosts.push_back(row.Text(0));
    return hosts;
}

bool InventoryQueries::HasMapping(const std::string& target, int32_t id, const std::string& host) {
    SqliteStatement row(m_db, "SELECT 1 FROM mappings WHERE target = ?1 AND lun = ?2 AND host = ?3");
    row.Bind(1, target).Bind(2, int64_t{id}).Bind(3, host);
    return row.Step();
}

int32_t InventoryQueries::LowestFreeLunId(const std::string& target, int32_t maxId) {
    // Ids are unique and from 1, so count == max means no gap below max.
    SqliteStatement summary(m_db, "SELECT count(*), coalesce(max(id), 0) FROM luns WHERE target = ?1");
    summary.Bind(1, target);
    summary.Step();
    const int64_t count = summary.Int(0);
    const int64_t highest = summary.Int(1);
    if (count == highest) return highest < maxId ? static_cast<int32_t>(highest + 1) : 0;
    SqliteStatement ids(m_db, "SELECT id FROM luns WHERE target = ?1 ORDER BY id");
    ids.Bind(1, target);
    int64_t expected = 1;
    while (ids.Step() && ids.Int(0) == expected) ++expected;
    return expected <= maxId ? static_cast<int32_t>(expected) : 0;
}

InventoryCounts InventoryQueries::Counts() {
    SqliteStatement row(m_db,
                        "SELECT (SELECT count(*) FROM targets), (SELECT count(*) FROM luns),"
                        " (SELECT count(*) FROM luns WHERE open = 1), (SELECT count(*) FROM mappings)");
    row.Step();
    return InventoryCounts{row.Int(0), row.Int(1), row.Int(2), row.Int(3)};
}

void InventoryQueries::InsertTarget(const TargetRecord& target) {
    SqliteStatement(m_db, "INSERT INTO targets(name, params, created) VALUES (?1, ?2, ?3)")
        .Bind(1, target.name)
        .Bind(2, target.params)
        .Bind(3, target.created)
        .Run();
}

void InventoryQueries::DeleteTarget(const std::string& name) {
    SqliteStatement(m_db, "DELETE FROM targets WHERE name = ?1").Bind(1, name).Run();
}

void InventoryQueries::InsertLun(const LunRecord& lun) {
    SqliteStatement(m_db,
                    "INSERT INTO luns(target, id, name, size, setting, options, open, created)"
                    " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)")
        .Bind(1, lun.target)
        .Bind(2, int64_t{lun.id})
        .Bind(3, lun.name)
        .Bind(4, static_cast<int64_t>(lun.sizeBytes))
        .Bind(5, int64_t{lun.setting})
        .Bind(6, lun.options)
        .Bind(7, int64_t{lun.open ? 1 : 0})
        .Bind(8, lun.created)
        .Run();
}

void InventoryQueries::SetLunOpen(const std::string& target, int32_t id, bool open) {
    SqliteStatement(m_db, "UPDATE luns SET open = ?3 WHERE target = ?1 AND id = ?2")
        .Bind(1, target)
        .Bind(2, int64_t{id})
        .Bind(3, int64_t{open ? 1 : 0})
        .Run();
}

void InventoryQueries::DeleteLun(const std::string& target, int32_t id) {
    SqliteStatement(m_db, "DELETE FROM luns WHERE target = ?1 AND id = ?2").Bind(1, target).Bind(2, int64_t{id}).Run();
}

void InventoryQueries::InsertMapping(const MappingRecord& mapping, int64_t created) {
    SqliteStatement(m_db, "INSERT INTO mappings(target, lun, host, created) VALUES (?1, ?2, ?3, ?4)")
        .Bind(1, mapping.target)
        .Bind(2, int64_t{mapping.lun})
        .Bind(3, mapping.host)
        .Bind(4, created)
        .Run();
}

void InventoryQueries::DeleteMapping(const MappingRecord& mapping) {
    SqliteStatement(m_db, "DELETE FROM mappings WHERE target = ?1 AND lun = ?2 AND host = ?3")
        .Bind(1, mapping.target)
        .Bind(2, int64_t{mapping.lun})
        .Bind(3, mapping.host)
        .Run();
}

InventorySnapshot InventoryQueries::Snapshot() {
    InventorySnapshot snapshot;
    SqliteStatement targets(m_db, "SELECT name, params, created FROM targets ORDER BY name");
    while (targets.Step()) snapshot.targets.push_back(TargetRecord{targets.Text(0), targets.Text(1), targets.Int(2)});
    const std::string sql = std::string("SELECT ") + kLunColumns + " FROM luns ORDER BY target, id";
    SqliteStatement luns(m_db, sql.c_str());
    while (luns.Step()) snapshot.luns.push_back(LunFromRow(luns));
    SqliteStatement mappings(m_db, "SELECT target, lun, host FROM mappings ORDER BY target, lun, host");
    while (mappings.Step())
        snapshot.mappings.push_back(
            MappingRecord{mappings.Text(0), static_cast<int32_t>(mappings.Int(1)), mappings.Text(2)});
    return snapshot;
}

void InventoryQueries::LunLines(const LunFilter& filter, std::vector<std::string>& lines) {
    ForEachLunLine(filter, [&](const std::string& line) { lines.push_back(line); });
}

void InventoryQueries::ForEachLunLine(const LunFilter& filter, const std::function<void(const std::string&)>& visit) {
    SqliteStatement row(m_db, ListingQuery("l.target, m.host, l.id, l.created", filter, false).c_str());
    BindFilter(row, filter);
    std::string target;
    std::string host;
    while (row.Step()) {
        size_t size = 0;
        const char* data = row.TextData(0, size);
        target.assign(data, size);
        data = row.TextData(1, size);
        host.assign(data, size);
        visit(ListingLine(target, host, row.Int(2), row.Int(3)));
    }
}

void InventoryQueries::ForEachLunDetail(const LunFilter& filter, const LunKey& from,
                                        const std::function<bool(const LunRecord&, const std::string&)>& visit) {
    SqliteStatement row(m_db, ListingQuery(kListingLunColumns, filter, true).c_str());
    BindFilter(row, filter);
    row.Bind(3, from.target).Bind(4, int64_t{from.id});
    while (row.Step())
        if (!visit(LunFromRow(row), row.Text(8))) return;
}

void InventoryQueries::TargetDetailRows(std::vector<TargetDetails>& rows) {
    SqliteStatement row(m_db,
                        "SELECT t.name, t.params, t.created,"
                        " (SELECT count(*) FROM luns WHERE target = t.name),"
                        " (SELECT count(*) FROM luns WHERE target = t.name AND open = 1),"
                        " (SELECT count(*) FROM mappings WHERE target = t.name)"
                        " FROM targets AS t ORDER BY t.name");
    while (row.Step())
        rows.push_back(TargetDetails{TargetRecord{row.Text(0), row.Text(1), row.Int(2)}, row.Int(3), row.Int(4),
                                     row.Int(5)});
}

ListingSize InventoryQueries::FullListingSize() {
    if (m_db.QueryInt("SELECT count(*) FROM temp.sqlite_master WHERE name = 'listing_size'") > 0) {
        SqliteStatement row(m_db, "SELECT lines, bytes FROM temp.listing_size");
        if (row.Step()) return ListingSize{row.Int(0), row.Int(1)};
    }
    ListingSize size;
    ForEachLunLine(LunFilter(), [&](const std::string& line) { size += ListingSize::Of(line); });
    m_db.Exec("CREATE TEMP TABLE IF NOT EXISTS listing_size(lines INTEGER NOT NULL, bytes INTEGER NOT NULL);"
              "DELETE FROM temp.listing_size");
    SqliteStatement(m_db, "INSERT INTO temp.listing_size(lines, bytes) VALUES (?1, ?2)")
        .Bind(1, size.lines)
        .Bind(2, size.bytes)
        .Run();
    return size;
}

void InventoryQueries::AddToFullListingSize(const ListingSize& change) {
    (void)FullListingSize();  // counted first when it is not known yet
    SqliteStatement(m_db, "UPDATE temp.listing_size SET lines = lines + ?1, bytes = bytes + ?2")
        .Bind(1, change.lines)
        .Bind(2, change.bytes)
        .Run();
}

void InventoryQueries::TargetNames(std::vector<std::string>& names) {
    SqliteStatement row(m_db, "SELECT name FROM targets ORDER BY name");
    while (row.Step()) names.push_back(row.Text(0));
}

}  // namespace zoscsi
