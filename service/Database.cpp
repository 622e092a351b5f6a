#include "Database.h"

#include "Codec.h"
#include "Migrations.h"
#include "PgConnection.h"
#include "SqliteConnection.h"

namespace ZorvelService {

namespace {

constexpr int kMaxConnections = 16;

} // namespace

bool Database::isPostgresUrl(const std::string &location)
{
    return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

Database::Database(std::string location)
    : m_location(std::move(location))
    , m_backend(isPostgresUrl(m_location) ? SqlConnection::Backend::Postgres : SqlConnection::Backend::Sqlite)
{
    auto connection = open();
    Migrations::apply(*connection);
    m_idle.push_back(std::move(connection));
    m_open = 1;
}

Database::~Database() = default;

std::unique_ptr<SqlConnection> Database::open()
{
    if (m_backend == SqlConnection::Backend::Postgres)
        return std::make_unique<PgConnection>(m_location);
    return std::make_unique<SqliteConnection>(m_location);
}

Database::Lease::~Lease()
{
    if (m_connection)
        m_db->release(m_connection);
}

Database::Lease Database::lease()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_available.wait(lock, [this] { return !m_idle.empty() || m_open < kMaxConnections; });
    if (!m_idle.empty()) {
        SqlConnection *connection = m_idle.back().release();
        m_idle.pop_back();
        return Lease(*this, connection);
    }
    ++m_open;
    lock.unlock();
    try {
        return Lease(*this, open().release());
    } catch (...) {
        std::lock_guard<std::mutex> relock(m_mutex);
        --m_open;
        m_available.notify_one();
        throw;
    }
}

void Database::release(SqlConnection *connection)
{
    std::unique_ptr<SqlConnection> owned(connection);
    std::lock_guard<std::mutex> lock(m_mutex);
    // A connection the server dropped (restart, fail-over) is replaced on demand.
    if (owned->healthy())
        m_idle.push_back(std::move(owned));
    else
        --m_open;
    m_available.notify_one();
}

Database::Transaction::Transaction(SqlConnection &db, Kind kind)
    : m_db(db)
{
    m_db.begin(kind == Write);
}

Database::Transaction::~Transaction()
{
    if (!m_open)
        return;
    try {
        m_db.exec("ROLLBACK");
    } catch (const DatabaseError &) {
        // The connection reports itself unhealthy and leaves the pool.
    }
}

void Database::Transaction::commit()
{
    m_db.exec("COMMIT");
    m_open = false;
}

void Database::lockUser(SqlConnection &db, std::int64_t userId)
{
    const char *sql = db.backend() == SqlConnection::Backend::Postgres
        ? "SELECT rev FROM users WHERE id = ?1 FOR UPDATE"
        : "SELECT rev FROM users WHERE id = ?1";
    SqlStatement(db, sql).bind(1, userId).run();
}

std::int64_t Database::nextRevision(SqlConnection &db, std::int64_t userId)
{
    SqlStatement update(db, "UPDATE users SET rev = CASE WHEN rev + 1 > ?2 THEN rev + 1 ELSE ?2 END "
                            "WHERE id = ?1 RETURNING rev");
    update.bind(1, userId).bind(2, Codec::now());
    if (!update.step())
        throw DatabaseError("no user " + std::to_string(userId));
    const std::int64_t rev = update.integer(0);
    update.run();
    return rev;
}

std::int64_t Database::currentRevision(SqlConnection &db, std::int64_t userId)
{
    SqlStatement select(db, "SELECT rev FROM users WHERE id = ?1");
    select.bind(1, userId);
    return select.step() ? select.integer(0) : 0;
}

std::string Database::byteLength(const SqlConnection &db, const std::string &column)
{
    if (db.backend() == SqlConnection::Backend::Postgres)
        return "octet_length(" + column + ")";
    return "length(CAST(" + column + " AS BLOB))";
}

std::int64_t Database::nextFileId(SqlConnection &db)
{
    if (db.backend() == SqlConnection::Backend::Postgres) {
        // A sequence: unique without holding any lock until commit.
        SqlStatement next(db, "SELECT nextval('file_ids')");
        next.step();
        return next.integer(0);
    }
    SqlStatement update(db, "UPDATE counters SET value = value + 1 WHERE name = 'file_id' RETURNING value");
    if (!update.step())
        throw DatabaseError("the file id counter is missing");
    const std::int64_t id = update.integer(0);
    update.run();
    return id;
}

} // namespace ZorvelService
