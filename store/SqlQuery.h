#pragma once

#include "app/Logging.h"
#include "store/History.h"
#include "store/StoreEvents.h"

#include <QSqlError>

#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QVariant>

#include <memory>

// A prepared statement on the default connection. Values are always bound, never
// spliced into the statement text. A failure is logged with the driver's error; a
// write that changed rows announces itself through StoreEvents.
//
// Each statement text is parsed once per thread and kept: parsing costs more than
// running it, and a capture runs eight. While one object uses the kept statement,
// another of the same text (a nested call) gets one of its own.
class SqlQuery
{
public:
    explicit SqlQuery(const QString &statement);
    ~SqlQuery();
    SqlQuery(const SqlQuery &) = delete;
    SqlQuery &operator=(const SqlQuery &) = delete;
    // Drops this thread's kept statements: before their connection goes.
    static void forgetPrepared();
    struct Kept;

    void bind(const QString &placeholder, const QVariant &value) { m_query.bindValue(placeholder, value); }
    bool exec()
    {
        if (!m_prepared || !m_query.exec()) {
            qCWarning(lcStore, "statement failed: %s (%s)", qPrintable(m_query.lastError().text()),
                      qPrintable(m_query.lastQuery().simplified().left(80)));
            return false;
        }
        if (!m_query.isSelect() && m_query.numRowsAffected() > 0)
            StoreEvents::touch();
        return true;
    }
    QString lastError() const { return m_query.lastError().text(); }
    int rowsAffected() const { return m_query.numRowsAffected(); }
    bool next() { return m_query.next(); }
    QVariant value(int column) const { return m_query.value(column); }
    QSqlRecord record() const { return m_query.record(); }

    // Executes and returns every resulting row as a record (empty on failure).
    HistoryList histories()
    {
        HistoryList list;
        if (!exec())
            return list;
        while (m_query.next())
            list.append(History::fromRecord(m_query.record()));
        return list;
    }
    // Executes and returns the first row, or an empty pointer.
    HistoryPtr first()
    {
        if (!exec() || !m_query.next())
            return HistoryPtr();
        return HistoryPtr::create(History::fromRecord(m_query.record()));
    }

private:
    std::shared_ptr<Kept> m_kept;
    QSqlQuery m_query;
    bool m_prepared = false;
};
