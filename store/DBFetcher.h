#pragma once

#include "app/OnceOnly.h"

#include <QObject>
#include <QStringList>

// Opens clipboard.db on the default connection, removes broken rows and creates
// or migrates the History table. Created once, at start-up, before the watcher.
class DBFetcher : public QObject
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(DBFetcher)

public:
    bool isOpen() const { return m_open; }
    // Opens path as the default connection, cleans it and brings the table up to date.
    static bool openDatabase(const QString &path);

private:
    DBFetcher();
    static void cleanUp();
    static void createTable();
    static QStringList existingColumns();
    static void migrate(const QStringList &columns);
    static void rebuildWithCategory();

    bool m_open = false;
};
