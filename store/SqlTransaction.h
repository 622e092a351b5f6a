#pragma once

#include <QSqlDatabase>
#include <QSqlError>

// One transaction on the default connection for the lifetime of the object: rolled
// back unless commit() succeeds. Inside a transaction someone else opened it does
// nothing, so the outer one decides.
class SqlTransaction
{
public:
    SqlTransaction() : m_db(QSqlDatabase::database()) { m_own = m_db.transaction(); }
    ~SqlTransaction()
    {
        if (m_own)
            m_db.rollback();
    }
    SqlTransaction(const SqlTransaction &) = delete;
    SqlTransaction &operator=(const SqlTransaction &) = delete;

    bool commit()
    {
        if (!m_own)
            return true;
        m_own = false;
        if (m_db.commit())
            return true;
        m_error = m_db.lastError().text();
        m_db.rollback();
        return false;
    }
    QString lastError() const { return m_error; }

private:
    QSqlDatabase m_db;
    bool m_own = false;
    QString m_error;
};
