#pragma once

#include "SqlConnection.h"

#include <cstdint>
#include <memory>
#include <string>

namespace ZorvelService {

// One prepared statement with positional parameters ("?1", 1-based). Values from
// outside only ever reach the database through bind().
class SqlStatement {
public:
    SqlStatement(SqlConnection &db, const std::string &sql) : m_cursor(db.prepare(sql)) {}
    SqlStatement(const SqlStatement &) = delete;
    SqlStatement &operator=(const SqlStatement &) = delete;

    SqlStatement &bind(int index, std::int64_t value) { m_cursor->bind(index, value); return *this; }
    SqlStatement &bind(int index, int value) { return bind(index, static_cast<std::int64_t>(value)); }
    SqlStatement &bind(int index, double value) { m_cursor->bind(index, value); return *this; }
    SqlStatement &bind(int index, const std::string &value) { m_cursor->bind(index, value); return *this; }

    // Advances to the next row; false when there is none.
    bool step() { return m_cursor->step(); }
    // Runs a statement that returns no rows.
    void run() { while (step()) {} }
    void reset() { m_cursor->reset(); }

    std::int64_t integer(int column) const { return m_cursor->integer(column); }
    double real(int column) const { return m_cursor->real(column); }
    std::string text(int column) const { return m_cursor->text(column); }

private:
    std::unique_ptr<SqlCursor> m_cursor;
};

} // namespace ZorvelService
