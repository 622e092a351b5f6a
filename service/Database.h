#pragma once

#include "SqlStatement.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ZorvelService {

// The service's database with a small pool of connections, one per concurrently
// running request: an SQLite file (WAL) by default, or a PostgreSQL server shared by
// several service nodes when the location is a "postgresql://" URL. The schema is
// migrated on open; see Migrations.
class Database {
public:
    explicit Database(std::string location);
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    static bool isPostgresUrl(const std::string &location);
    SqlConnection::Backend backend() const { return m_backend; }

    // A pooled connection, returned to the pool when the lease ends.
    class Lease {
    public:
        Lease(Database &db, SqlConnection *connection) : m_db(&db), m_connection(connection) {}
        Lease(Lease &&other) noexcept : m_db(other.m_db), m_connection(other.m_connection) { other.m_connection = nullptr; }
        Lease(const Lease &) = delete;
        Lease &operator=(const Lease &) = delete;
        Lease &operator=(Lease &&) = delete;
        ~Lease();
        SqlConnection &handle() const { return *m_connection; }

    private:
        Database *m_db;
        SqlConnection *m_connection;
    };

    Lease lease();

    // A transaction that rolls back unless committed.
    class Transaction {
    public:
        enum Kind { Read, Write };
        Transaction(SqlConnection &db, Kind kind);
        ~Transaction();
        Transaction(const Transaction &) = delete;
        Transaction &operator=(const Transaction &) = delete;
        void commit();

    private:
        SqlConnection &m_db;
        bool m_open = true;
    };

    // Every write of a user's data starts here, inside its write transaction: it locks
    // the user's row (SELECT ... FOR UPDATE on PostgreSQL; SQLite has one writer
    // anyway) so that writes of one user run one after the other on any number of
    // nodes, and every later statement of the transaction sees what the previous
    // writer committed.
    static void lockUser(SqlConnection &db, std::int64_t userId);
    // Changes of a user are ordered by the user's revision clock: never behind the
    // wall-clock seconds and strictly increasing, and (through lockUser) committed in
    // the order handed out, so a pull's "request_timestamp" splits them exactly.
    static std::int64_t nextRevision(SqlConnection &db, std::int64_t userId);
    static std::int64_t currentRevision(SqlConnection &db, std::int64_t userId);
    // SQL for the size in bytes of a text column (SQLite counts characters of TEXT).
    static std::string byteLength(const SqlConnection &db, const std::string &column);
    // Unique among all users and never reused.
    static std::int64_t nextFileId(SqlConnection &db);

private:
    std::unique_ptr<SqlConnection> open();
    void release(SqlConnection *connection);

    std::string m_location;
    SqlConnection::Backend m_backend;
    std::mutex m_mutex;
    std::condition_variable m_available;
    std::vector<std::unique_ptr<SqlConnection>> m_idle;
    int m_open = 0;
};

} // namespace ZorvelService
