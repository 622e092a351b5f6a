#include "SqliteConnection.h"

#include <sqlite3.h>

namespace ZorvelService {

namespace {

class SqliteCursor : public SqlCursor {
public:
    SqliteCursor(sqlite3 *db, const std::string &sql)
        : m_db(db)
    {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &m_stmt, nullptr) != SQLITE_OK)
            throw DatabaseError(std::string("prepare failed: ") + sqlite3_errmsg(db));
    }
    ~SqliteCursor() override { sqlite3_finalize(m_stmt); }

    void bind(int index, std::int64_t value) override { sqlite3_bind_int64(m_stmt, index, value); }
    void bind(int index, double value) override { sqlite3_bind_double(m_stmt, index, value); }
    void bind(int index, const std::string &value) override
    {
        sqlite3_bind_text(m_stmt, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    }

    bool step() override
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        throw DatabaseError(std::string("step failed: ") + sqlite3_errmsg(m_db));
    }

    void reset() override
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }

    std::int64_t integer(int column) const override { return sqlite3_column_int64(m_stmt, column); }
    double real(int column) const override { return sqlite3_column_double(m_stmt, column); }
    std::string text(int column) const override
    {
        const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
        return data ? std::string(data, static_cast<size_t>(sqlite3_column_bytes(m_stmt, column))) : std::string();
    }

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

} // namespace

SqliteConnection::SqliteConnection(const std::string &path)
{
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
        const std::string error = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close_v2(m_db);
        throw DatabaseError("cannot open " + path + ": " + error);
    }
    sqlite3_busy_timeout(m_db, 10000);
    try {
        exec("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON;");
    } catch (...) {
        sqlite3_close_v2(m_db);
        throw;
    }
}

SqliteConnection::~SqliteConnection()
{
    sqlite3_close_v2(m_db);
}

std::unique_ptr<SqlCursor> SqliteConnection::prepare(const std::string &sql)
{
    return std::make_unique<SqliteCursor>(m_db, sql);
}

void SqliteConnection::exec(const std::string &sql)
{
    char *error = nullptr;
    if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string text = error ? error : "unknown error";
        sqlite3_free(error);
        throw DatabaseError(text);
    }
}

void SqliteConnection::begin(bool write)
{
    // One writer at a time: taking the lock at once means a write never fails half-way.
    exec(write ? "BEGIN IMMEDIATE" : "BEGIN");
}

} // namespace ZorvelService
