#include "store/SqlQuery.h"

#include <QHash>

struct SqlQuery::Kept {
    QSqlQuery query;
    bool busy = false;
};

namespace {

// Per thread, as a connection only serves the thread that opened it.
thread_local QHash<QString, std::shared_ptr<SqlQuery::Kept>> t_kept;

std::shared_ptr<SqlQuery::Kept> idle(const QString &statement)
{
    const auto it = t_kept.constFind(statement);
    if (it == t_kept.constEnd() || it.value()->busy)
        return nullptr;
    it.value()->busy = true;
    return it.value();
}

} // namespace

SqlQuery::SqlQuery(const QString &statement) : m_kept(idle(statement)), m_query(m_kept ? m_kept->query : QSqlQuery())
{
    if (m_kept) {
        m_prepared = true;
        return;
    }
    m_prepared = m_query.prepare(statement);
    // A statement that does not parse is tried (and its error logged) each time.
    if (m_prepared && !t_kept.contains(statement)) {
        m_kept = std::make_shared<Kept>(Kept{m_query, true});
        t_kept.insert(statement, m_kept);
    }
}

SqlQuery::~SqlQuery()
{
    if (!m_kept)
        return;
    // Reset for the next use: an unfinished read would hold its snapshot of the
    // database open.
    m_query.finish();
    m_kept->busy = false;
}

void SqlQuery::forgetPrepared()
{
    t_kept.clear();
}
