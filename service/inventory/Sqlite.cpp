#include "inventory/Sqlite.h"

#include <sqlite3.h>

namespace zoscsi {
namespace {

std::string Describe(sqlite3* db, int rc, const std::string& where) {
    std::string text = where + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    return text + " (sqlite " + std::to_string(rc) + ")";
}

}  // namespace

SqliteDb::SqliteDb(const std::string& path, int flags) : m_path(path) {
    const int rc = sqlite3_open_v2(path.c_str(), &m_db, flags | SQLITE_OPEN_NOFOLLOW, nullptr);
    if (rc != SQLITE_OK) {
        const std::string text = Describe(m_db, rc, "cannot open " + path);
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw SqliteError(rc, text);
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, 10000);
}

SqliteDb::~SqliteDb() { sqlite3_close_v2(m_db); }

void SqliteDb::Exec(const char* sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        std::string text = std::string(sql) + ": " + (message ? message : sqlite3_errstr(rc)) + " (sqlite " +
                           std::to_string(rc) + ")";
        sqlite3_free(message);
        throw SqliteError(rc, text);
    }
}

std::string SqliteDb::QueryText(const char* sql) {
    SqliteStatement statement(*this, sql);
    return statement.Step() ? statement.Text(0) : std::string();
}

int64_t SqliteDb::QueryInt(const char* sql) {
    SqliteStatement statement(*this, sql);
    return statement.Step() ? statement.Int(0) : 0;
}

SqliteStatement::SqliteStatement(SqliteDb& db, const char* sql) : m_db(db) {
    const int rc = sqlite3_prepare_v2(db.handle(), sql, -1, &m_stmt, nullptr);
    if (rc != SQLITE_OK) throw SqliteError(rc, Describe(db.handle(), rc, sql));
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(m_stmt); }

void SqliteStatement::Check(int rc) const {
    if (rc != SQLITE_OK) throw SqliteError(rc, Describe(m_db.handle(), rc, sqlite3_sql(m_stmt)));
}

SqliteStatement& SqliteStatement::Bind(int index, const std::string& value) {
    Check(sqlite3_bind_text(m_stmt, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT));
    return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, int64_t value) {
    Check(sqlite3_bind_int64(m_stmt, index, value));
    return *this;
}

bool SqliteStatement::Step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw SqliteError(rc, Describe(m_db.handle(), rc, sqlite3_sql(m_stmt)));
}

void SqliteStatement::Run() {
    while (Step()) {
    }
}

int64_t SqliteStatement::Int(int column) const { return sqlite3_column_int64(m_stmt, column); }

std::string SqliteStatement::Text(int column) const {
    size_t size = 0;
    const char* data = TextData(column, size);
    return std::string(data, size);
}

const char* SqliteStatement::TextData(int column, size_t& size) const {
    const unsigned char* text = sqlite3_column_text(m_stmt, column);
    size = static_cast<size_t>(sqlite3_column_bytes(m_stmt, column));
    return text ? reinterpret_cast<const char*>(text) : "";
}

bool SqliteStatement::IsNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }

}  // namespace zoscsi
