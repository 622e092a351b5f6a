#pragma once

// The store as every test sees it: the real database in the test's home.

#include "store/DBFetcher.h"
#include "store/History.h"

#include <QSqlQuery>

namespace StoreHelper {

inline void wipe()
{
    DBFetcher::instance();
    QSqlQuery(QStringLiteral("delete from History")).exec();
}

// Rows of the table, optionally with a "where ..." clause.
inline int rows(const QString &where = QString())
{
    QSqlQuery q(QStringLiteral("select count(*) from History ") + where);
    return q.next() ? q.value(0).toInt() : -1;
}

inline History stored(const QString &fileHash, const QString &category = QStringLiteral("history"))
{
    History h;
    h.setFileHash(fileHash);
    h.setCategory(category);
    h.load();
    return h;
}

} // namespace StoreHelper
