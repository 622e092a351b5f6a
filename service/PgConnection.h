#pragma once

#include "SqlConnection.h"

#include <map>

struct pg_conn;

namespace ZorvelService {

// A connection to a PostgreSQL server (libpq), for several service nodes sharing one
// database. Statements are prepared once per connection; "?N" becomes "$N". Text
// parameters travel in binary form so that the free texts of entries (BYTEA columns)
// keep any byte, NUL included.
class PgConnection : public SqlConnection {
public:
    explicit PgConnection(const std::string &url);
    ~PgConnection() override;
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    Backend backend() const override { return Backend::Postgres; }
    std::unique_ptr<SqlCursor> prepare(const std::string &sql) override;
    void exec(const std::string &sql) override;
    void begin(bool write) override;
    bool healthy() const override;

    // The error text of libpq without the URL or its password.
    static std::string lastError(pg_conn *conn);

private:
    pg_conn *m_conn = nullptr;
    std::map<std::string, std::string> m_prepared; // SQL text → statement name
};

} // namespace ZorvelService
