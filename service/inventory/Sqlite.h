// Sqlite: a thin owner of SQLite connections and statements. Every failure
// throws SqliteError with SQLite's own code and text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace zoscsi {

class SqliteError : public std::runtime_error {
public:
    SqliteError(int code, const std::string& text) : std::runtime_error(text), m_code(code) {}
    int code() const { return m_code; }  // extended result code

private:
    int m_code;
};

class SqliteDb {
public:
    // `flags`: SQLITE_OPEN_* flags. Throws when the file cannot be opened.
    SqliteDb(const std::string& path, int flags);
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    // Runs statements without results (or ignoring them).
    void Exec(const char* sql);
    // The first column of the first row of `sql` as text ("" without rows).
    std::string QueryText(const char* sql);
    int64_t QueryInt(const char* sql);

    sqlite3* handle() const { return m_db; }
    const std::string& path() const { return m_path; }

private:
    sqlite3* m_db = nullptr;
    std::string m_path;
};

class SqliteStatement {
public:
    SqliteStatement(SqliteDb& db, const char* sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // Parameters count from 1.
    SqliteStatement& Bind(int index, const std::string& value);
    SqliteStatement& Bind(int index, int64_t value);

    // Steps once: true while a row is there, false when done.
    bool Step();
    // Steps to the end (for statements without results).
    void Run();

    int64_t Int(int column) const;
    std::string Text(int column) const;
    // The column's bytes without a copy; valid until the next Step.
    const char* TextData(int column, size_t& size) const;
    bool IsNull(int column) const;

private:
    void Check(int rc) const;

    SqliteDb& m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

}  // namespace zoscsi
