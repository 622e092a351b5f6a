#pragma once

namespace ZorvelService {

class SqlConnection;

// The schema, versioned: each backend has its list of steps, applied in order at
// start by whichever node comes first (PostgreSQL: under an advisory lock; SQLite:
// under its write lock). The version reached is kept in schema_version.
class Migrations {
public:
    static void apply(SqlConnection &db);
};

} // namespace ZorvelService
