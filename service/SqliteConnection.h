#pragma once

#include "SqlConnection.h"

struct sqlite3;

namespace ZorvelService {

// A connection to the service's SQLite file (WAL mode): the embedded default.
class SqliteConnection : public SqlConnection {
public:
    explicit SqliteConnection(const std::string &path);
    ~SqliteConnection() override;
    SqliteConnection(const SqliteConnection &) = delete;
    SqliteConnection &operator=(const SqliteConnection &) = delete;

    Backend backend() const override { return Backend::Sqlite; }
    std::unique_ptr<SqlCursor> prepare(const std::string &sql) override;
    void exec(const std::string &sql) override;
    void begin(bool write) override;

private:
    sqlite3 *m_db = nullptr;
};

} // namespace ZorvelService
