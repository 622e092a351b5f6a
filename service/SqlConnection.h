#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace ZorvelService {

class DatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One prepared statement of a backend; SqlStatement is its face to the stores.
class SqlCursor {
public:
    virtual ~SqlCursor() = default;
    virtual void bind(int index, std::int64_t value) = 0;
    virtual void bind(int index, double value) = 0;
    virtual void bind(int index, const std::string &value) = 0;
    virtual bool step() = 0;
    virtual void reset() = 0;
    virtual std::int64_t integer(int column) const = 0;
    virtual double real(int column) const = 0;
    virtual std::string text(int column) const = 0;
};

// One connection to the service's database: an SQLite file or a PostgreSQL server.
// The stores write one dialect that both understand (positional "?N" parameters,
// RETURNING, ON CONFLICT); what differs lives here and in the migrations.
class SqlConnection {
public:
    enum class Backend { Sqlite, Postgres };
    virtual ~SqlConnection() = default;
    virtual Backend backend() const = 0;
    virtual std::unique_ptr<SqlCursor> prepare(const std::string &sql) = 0;
    // Runs one or more statements without parameters or rows.
    virtual void exec(const std::string &sql) = 0;
    // Write transactions take their locks as they go on PostgreSQL (row locks) and at
    // once on SQLite (one writer); reads see one snapshot on both.
    virtual void begin(bool write) = 0;
    // False when the connection can no longer be used and must not return to the pool.
    virtual bool healthy() const { return true; }
};

} // namespace ZorvelService
