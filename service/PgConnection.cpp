#include "PgConnection.h"

#include <libpq-fe.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

namespace ZorvelService {

namespace {

constexpr Oid kByteaOid = 17;

std::string toDollarParameters(const std::string &sql)
{
    std::string out = sql;
    for (std::size_t i = 0; i + 1 < out.size(); ++i) {
        if (out[i] == '?' && out[i + 1] >= '0' && out[i + 1] <= '9')
            out[i] = '$';
    }
    return out;
}

class PgCursor : public SqlCursor {
public:
    PgCursor(PGconn *conn, std::string name)
        : m_conn(conn)
        , m_name(std::move(name))
    {
    }
    ~PgCursor() override { PQclear(m_result); }

    void bind(int index, std::int64_t value) override { set(index, std::to_string(value), 0); }
    void bind(int index, double value) override
    {
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", value);
        set(index, text, 0);
    }
    void bind(int index, const std::string &value) override { set(index, value, 1); }

    bool step() override
    {
        if (!m_result)
            execute();
        ++m_row;
        return m_row < PQntuples(m_result);
    }

    void reset() override
    {
        PQclear(m_result);
        m_result = nullptr;
        m_row = -1;
        m_values.clear();
        m_formats.clear();
    }

    std::int64_t integer(int column) const override { return std::strtoll(value(column), nullptr, 10); }
    double real(int column) const override { return std::strtod(value(column), nullptr); }
    std::string text(int column) const override
    {
        if (PQftype(m_result, column) != kByteaOid)
            return std::string(value(column), static_cast<size_t>(PQgetlength(m_result, m_row, column)));
        size_t length = 0;
        unsigned char *bytes = PQunescapeBytea(reinterpret_cast<const unsigned char *>(value(column)), &length);
        if (!bytes)
            throw DatabaseError("out of memory");
        std::string out(reinterpret_cast<char *>(bytes), length);
        PQfreemem(bytes);
        return out;
    }

private:
    void set(int index, std::string value, int format)
    {
        if (index < 1)
            throw DatabaseError("parameter index out of range");
        if (static_cast<std::size_t>(index) > m_values.size()) {
            m_values.resize(static_cast<std::size_t>(index));
            m_formats.resize(static_cast<std::size_t>(index), 0);
        }
        m_values[static_cast<std::size_t>(index) - 1] = std::move(value);
        m_formats[static_cast<std::size_t>(index) - 1] = format;
    }

    void execute()
    {
        std::vector<const char *> values;
        std::vector<int> lengths;
        for (const auto &v : m_values) {
            values.push_back(v ? v->data() : nullptr);
            lengths.push_back(v ? static_cast<int>(v->size()) : 0);
        }
        m_result = PQexecPrepared(m_conn, m_name.c_str(), static_cast<int>(values.size()), values.data(),
                                  lengths.data(), m_formats.data(), 0);
        const ExecStatusType status = PQresultStatus(m_result);
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
            const std::string error = m_result ? PQresultErrorMessage(m_result) : PgConnection::lastError(m_conn);
            PQclear(m_result);
            m_result = nullptr;
            throw DatabaseError("statement failed: " + error);
        }
    }

    const char *value(int column) const
    {
        if (!m_result || m_row < 0 || m_row >= PQntuples(m_result) || column >= PQnfields(m_result))
            throw DatabaseError("no such row or column");
        return PQgetvalue(m_result, m_row, column);
    }

    PGconn *m_conn;
    std::string m_name;
    std::vector<std::optional<std::string>> m_values;
    std::vector<int> m_formats;
    PGresult *m_result = nullptr;
    int m_row = -1;
};

} // namespace

namespace {

// A server that does not answer must not hold a request for ever; the URL may say
// otherwise (its values come later and win).
PGconn *connectTo(const std::string &url)
{
    const char *keys[] = {"connect_timeout", "dbname", nullptr};
    const char *values[] = {"10", url.c_str(), nullptr};
    return PQconnectdbParams(keys, values, 1);
}

} // namespace

PgConnection::PgConnection(const std::string &url)
    : m_conn(connectTo(url))
{
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const std::string error = lastError(m_conn);
        PQfinish(m_conn);
        throw DatabaseError("cannot connect to PostgreSQL: " + error);
    }
    // Notices (e.g. "relation exists, skipping") are not worth a log line each.
    PQsetNoticeProcessor(m_conn, [](void *, const char *) {}, nullptr);
}

PgConnection::~PgConnection()
{
    PQfinish(m_conn);
}

std::string PgConnection::lastError(pg_conn *conn)
{
    std::string error = conn ? PQerrorMessage(conn) : "out of memory";
    while (!error.empty() && (error.back() == '\n' || error.back() == ' '))
        error.pop_back();
    return error;
}

std::unique_ptr<SqlCursor> PgConnection::prepare(const std::string &sql)
{
    auto known = m_prepared.find(sql);
    if (known == m_prepared.end()) {
        const std::string name = "z" + std::to_string(m_prepared.size() + 1);
        PGresult *result = PQprepare(m_conn, name.c_str(), toDollarParameters(sql).c_str(), 0, nullptr);
        const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
        const std::string error = ok ? std::string() : (result ? PQresultErrorMessage(result) : lastError(m_conn));
        PQclear(result);
        if (!ok)
            throw DatabaseError("prepare failed: " + error);
        known = m_prepared.emplace(sql, name).first;
    }
    return std::make_unique<PgCursor>(m_conn, known->second);
}

void PgConnection::exec(const std::string &sql)
{
    PGresult *result = PQexec(m_conn, sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    const std::string error = ok ? std::string() : (result ? PQresultErrorMessage(result) : lastError(m_conn));
    PQclear(result);
    if (!ok)
        throw DatabaseError(error);
}

void PgConnection::begin(bool write)
{
    // Writers serialise on the rows they lock (the user's row first, see Database);
    // a reader needs every statement of its transaction to see the same snapshot.
    exec(write ? "BEGIN" : "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
}

bool PgConnection::healthy() const
{
    return PQstatus(m_conn) == CONNECTION_OK && PQtransactionStatus(m_conn) == PQTRANS_IDLE;
}

} // namespace ZorvelService
