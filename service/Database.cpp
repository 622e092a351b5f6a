#include "Database.h"

#include "Codec.h"
#include "Log.h"

#include <sqlite3.h>

#include <algorithm>

namespace ZorvelService {

namespace {

constexpr int kMaxConnections = 16;

void exec(sqlite3 *db, const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string text = error ? error : "unknown error";
        sqlite3_free(error);
        throw DatabaseError(text);
    }
}

constexpr const char *kSchema = R"sql(
CREATE TABLE IF NOT EXISTS counters (name TEXT PRIMARY KEY, value INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS users (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    email TEXT NOT NULL UNIQUE COLLATE NOCASE,
    verifier TEXT NOT NULL,
    created INTEGER NOT NULL,
    clear_ts INTEGER NOT NULL DEFAULT 0,
    clear_rev INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS tokens (
    digest TEXT PRIMARY KEY,
    user_id INTEGER NOT NULL,
    expires INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS tokens_user ON tokens(user_id);
CREATE TABLE IF NOT EXISTS reset_tokens (
    digest TEXT PRIMARY KEY,
    user_id INTEGER NOT NULL,
    expires INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS key_pairs (
    user_id INTEGER PRIMARY KEY,
    key_dict TEXT NOT NULL,
    key_hash TEXT NOT NULL,
    cipher_hash TEXT NOT NULL,
    cipher TEXT NOT NULL,
    updated INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS entries (
    history_id INTEGER PRIMARY KEY AUTOINCREMENT,
    user_id INTEGER NOT NULL,
    file_hash TEXT NOT NULL,
    content TEXT NOT NULL DEFAULT '',
    timestamp REAL NOT NULL DEFAULT 0,
    device_name TEXT NOT NULL DEFAULT '',
    type TEXT NOT NULL DEFAULT '',
    file_name TEXT NOT NULL DEFAULT '',
    file_size REAL NOT NULL DEFAULT 0,
    favourite INTEGER NOT NULL DEFAULT 0,
    key_hash TEXT NOT NULL DEFAULT '',
    file_id INTEGER NOT NULL UNIQUE,
    file_ready INTEGER NOT NULL DEFAULT 0,
    rev INTEGER NOT NULL,
    UNIQUE (user_id, file_hash));
CREATE INDEX IF NOT EXISTS entries_rev ON entries(user_id, rev);
CREATE TABLE IF NOT EXISTS tombstones (
    user_id INTEGER NOT NULL,
    history_id INTEGER NOT NULL,
    rev INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS tombstones_rev ON tombstones(user_id, rev);
CREATE TABLE IF NOT EXISTS deleted_hashes (
    user_id INTEGER NOT NULL,
    file_hash TEXT NOT NULL,
    PRIMARY KEY (user_id, file_hash));
INSERT OR IGNORE INTO counters(name, value) VALUES ('revision', 0), ('file_id', 0);
)sql";

std::int64_t counter(sqlite3 *db, const char *name)
{
    SqlStatement select(db, "SELECT value FROM counters WHERE name = ?1");
    select.bind(1, std::string(name));
    return select.step() ? select.integer(0) : 0;
}

void setCounter(sqlite3 *db, const char *name, std::int64_t value)
{
    SqlStatement update(db, "UPDATE counters SET value = ?2 WHERE name = ?1");
    update.bind(1, std::string(name)).bind(2, value).run();
}

} // namespace

Database::Database(std::string path)
    : m_path(std::move(path))
{
    sqlite3 *db = open();
    createSchema(db);
    release(db);
}

Database::~Database()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (sqlite3 *db : m_idle)
        sqlite3_close_v2(db);
}

Database::Lease::~Lease()
{
    if (m_handle)
        m_db->release(m_handle);
}

Database::Lease Database::lease()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_available.wait(lock, [this] { return !m_idle.empty() || m_open < kMaxConnections; });
    if (!m_idle.empty()) {
        sqlite3 *db = m_idle.back();
        m_idle.pop_back();
        return Lease(*this, db);
    }
    ++m_open;
    lock.unlock();
    try {
        return Lease(*this, open());
    } catch (...) {
        std::lock_guard<std::mutex> relock(m_mutex);
        --m_open;
        m_available.notify_one();
        throw;
    }
}

void Database::release(sqlite3 *handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_idle.push_back(handle);
    m_available.notify_one();
}

sqlite3 *Database::open()
{
    sqlite3 *db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(m_path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        const std::string error = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close_v2(db);
        throw DatabaseError("cannot open " + m_path + ": " + error);
    }
    sqlite3_busy_timeout(db, 10000);
    exec(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON;");
    return db;
}

void Database::createSchema(sqlite3 *db)
{
    Transaction tx(db, Transaction::Write);
    exec(db, kSchema);
    tx.commit();
}

Database::Transaction::Transaction(sqlite3 *db, Kind kind)
    : m_db(db)
{
    exec(db, kind == Write ? "BEGIN IMMEDIATE" : "BEGIN");
}

Database::Transaction::~Transaction()
{
    if (m_open)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void Database::Transaction::commit()
{
    exec(m_db, "COMMIT");
    m_open = false;
}

std::int64_t Database::nextRevision(sqlite3 *db)
{
    const std::int64_t rev = std::max(Codec::now(), counter(db, "revision") + 1);
    setCounter(db, "revision", rev);
    return rev;
}

std::int64_t Database::currentRevision(sqlite3 *db)
{
    return counter(db, "revision");
}

std::int64_t Database::nextFileId(sqlite3 *db)
{
    const std::int64_t id = counter(db, "file_id") + 1;
    setCounter(db, "file_id", id);
    return id;
}

std::int64_t Database::lastInsertId(sqlite3 *db)
{
    return sqlite3_last_insert_rowid(db);
}

int Database::changes(sqlite3 *db)
{
    return sqlite3_changes(db);
}

} // namespace ZorvelService
