#pragma once

#include "SqlStatement.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace ZorvelService {

// The service's SQLite file (WAL mode) with a small pool of connections, one per
// concurrently running request.
class Database {
public:
    explicit Database(std::string path);
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // A pooled connection, returned to the pool when the lease ends.
    class Lease {
    public:
        Lease(Database &db, sqlite3 *handle) : m_db(&db), m_handle(handle) {}
        Lease(Lease &&other) noexcept : m_db(other.m_db), m_handle(other.m_handle) { other.m_handle = nullptr; }
        Lease(const Lease &) = delete;
        Lease &operator=(const Lease &) = delete;
        Lease &operator=(Lease &&) = delete;
        ~Lease();
        sqlite3 *handle() const { return m_handle; }

    private:
        Database *m_db;
        sqlite3 *m_handle;
    };

    Lease lease();

    // A transaction that rolls back unless committed. Write transactions take the
    // write lock at once (BEGIN IMMEDIATE) so that they never fail half-way.
    class Transaction {
    public:
        enum Kind { Read, Write };
        Transaction(sqlite3 *db, Kind kind);
        ~Transaction();
        Transaction(const Transaction &) = delete;
        Transaction &operator=(const Transaction &) = delete;
        void commit();

    private:
        sqlite3 *m_db;
        bool m_open = true;
    };

    // Changes are ordered by a revision clock: never behind the wall-clock seconds and
    // strictly increasing, so that a pull's "request_timestamp" splits the changes
    // exactly. Call inside a write transaction.
    static std::int64_t nextRevision(sqlite3 *db);
    static std::int64_t currentRevision(sqlite3 *db);
    static std::int64_t nextFileId(sqlite3 *db);
    static std::int64_t lastInsertId(sqlite3 *db);
    static int changes(sqlite3 *db);

private:
    sqlite3 *open();
    void release(sqlite3 *handle);
    void createSchema(sqlite3 *db);

    std::string m_path;
    std::mutex m_mutex;
    std::condition_variable m_available;
    std::vector<sqlite3 *> m_idle;
    int m_open = 0;
};

} // namespace ZorvelService
