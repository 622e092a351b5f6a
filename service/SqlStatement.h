#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace ZorvelService {

class DatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One prepared statement with positional parameters (1-based). Values from outside
// only ever reach SQLite through bind().
class SqlStatement {
public:
    SqlStatement(sqlite3 *db, const char *sql);
    ~SqlStatement();
    SqlStatement(const SqlStatement &) = delete;
    SqlStatement &operator=(const SqlStatement &) = delete;

    SqlStatement &bind(int index, std::int64_t value);
    SqlStatement &bind(int index, int value) { return bind(index, static_cast<std::int64_t>(value)); }
    SqlStatement &bind(int index, double value);
    SqlStatement &bind(int index, const std::string &value);

    // Advances to the next row; false when there is none.
    bool step();
    // Runs a statement that returns no rows.
    void run();
    void reset();

    std::int64_t integer(int column) const;
    double real(int column) const;
    std::string text(int column) const;

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

} // namespace ZorvelService
