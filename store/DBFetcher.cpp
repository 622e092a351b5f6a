#include "store/DBFetcher.h"

#include "app/CFileManager.h"
#include "app/Logging.h"
#include "store/SqlQuery.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>
#include <QtDebug>

namespace {

bool run(const char *statement)
{
    QSqlQuery q;
    return q.exec(QString::fromLatin1(statement));
}

} // namespace

DBFetcher::DBFetcher()
{
    m_open = openDatabase(CFileManager::rootPath() + QStringLiteral("/clipboard.db"));
}

bool DBFetcher::openDatabase(const QString &path)
{
    if (QSqlDatabase::contains(QSqlDatabase::defaultConnection)) {
        SqlQuery::forgetPrepared();
        QSqlDatabase::database(QSqlDatabase::defaultConnection, false).close();
        QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(path);
    const bool open = db.open();
    if (!open) {
        qCritical("db open error");
        QCoreApplication::quit();
    }
    // Write-ahead logging: a capture commits without waiting for a full sync of the
    // main file, and a killed process still leaves every committed row readable.
    run("PRAGMA journal_mode=WAL;");
    run("PRAGMA synchronous=NORMAL;");
    cleanUp();
    // Compacting rewrites the whole file: once, when the event loop first turns,
    // so that start-up reaches the tray icon without waiting for it.
    if (QCoreApplication::instance())
        QTimer::singleShot(0, QCoreApplication::instance(), [] { run("VACUUM"); });
    else
        run("VACUUM");
    if (!db.tables().contains(QStringLiteral("History"), Qt::CaseSensitive)) {
        createTable();
        return open;
    }
    qCDebug(lcStore, "table ok");
    const QStringList columns = existingColumns();
    cleanUp();
    migrate(columns);
    return open;
}

void DBFetcher::cleanUp()
{
    run("delete FROM History where content is null;");
    run("delete FROM History where file_hash is 'd41d8cd98f00b204e9800998ecf8427e';");
}

void DBFetcher::createTable()
{
    run("CREATE TABLE History (content TEXT NOT NULL,                 timeStamp REAL NOT NULL DEFAULT 0,"
        "                 deviceName TEXT,                 file_hash TEXT NOT NULL,                 type TEXT,"
        "                 history_id INTEGER NOT NULL DEFAULT 0,                 file_id INTEGER NOT NULL DEFAULT 0 ,"
        "                 file_ready INTEGER NOT NULL DEFAULT 0,                 file_name TEXT,"
        "                 change_timestamp INTEGER NOT NULL DEFAULT 0,"
        "                 local_file_ok INTEGER NOT NULL DEFAULT 0,                 file_size REAL NOT NULL DEFAULT 0,"
        "                 secert INTEGER NOT NULL DEFAULT 0,"
        "                 category TEXT NOT NULL DEFAULT 'history',"
        "                 favourite INTEGER NOT NULL DEFAULT 0,                 key_hash TEXT DEFAULT NULL"
        "                 );");
    run("CREATE UNIQUE INDEX History_file_hash_category ON History(file_hash, category);");
}

QStringList DBFetcher::existingColumns()
{
    QStringList columns;
    QSqlQuery q;
    if (!q.exec(QStringLiteral("PRAGMA table_info('history');")))
        return columns;
    while (q.next())
        columns << q.record().value(QStringLiteral("name")).toString().toLower();
    return columns;
}

void DBFetcher::migrate(const QStringList &columns)
{
    if (!columns.contains(QStringLiteral("secert")))
        run("alter table History add secert INTEGER NOT NULL DEFAULT 0;");
    if (!columns.contains(QStringLiteral("category")))
        rebuildWithCategory();
    if (!columns.contains(QStringLiteral("favourite")))
        run("alter table History add favourite INTEGER NOT NULL DEFAULT 0");
    if (!columns.contains(QStringLiteral("key_hash")))
        run("alter table History add key_hash TEXT DEFAULT NULL");
}

// The copy only fits the thirteen-column layout from before categories. It runs in
// one transaction so that a table it does not fit is kept as it was instead of
// being dropped after a failed copy.
void DBFetcher::rebuildWithCategory()
{
    QSqlDatabase db = QSqlDatabase::database();
    db.transaction();
    const bool ok = run("CREATE TABLE History2 (content TEXT NOT NULL,                     timeStamp REAL NOT NULL DEFAULT 0,"
            "                     deviceName TEXT,                     file_hash TEXT NOT NULL,"
            "                     type TEXT,                     history_id INTEGER NOT NULL DEFAULT 0,"
            "                     file_id INTEGER NOT NULL DEFAULT 0 ,"
            "                     file_ready INTEGER NOT NULL DEFAULT 0,                     file_name TEXT,"
            "                     change_timestamp INTEGER NOT NULL DEFAULT 0,"
            "                     local_file_ok INTEGER NOT NULL DEFAULT 0,"
            "                     file_size REAL NOT NULL DEFAULT 0,"
            "                     secert INTEGER NOT NULL DEFAULT 0                     );")
        && run("INSERT INTO History2 SELECT * FROM History;")
        && run("alter table History2 add category TEXT NOT NULL DEFAULT 'history';")
        && run("CREATE UNIQUE INDEX History_file_hash_category ON History2(file_hash, category);")
        && run("DROP TABLE History;")
        && run("ALTER TABLE History2 RENAME TO History;");
    if (ok) {
        db.commit();
    } else {
        db.rollback();
        qWarning("db: the history table has an unknown layout; left unchanged");
    }
}
