#include "support/TestMain.h"

#include "support/StoreHelper.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

const QStringList kColumns = {
    QStringLiteral("content"),     QStringLiteral("timeStamp"),        QStringLiteral("deviceName"),
    QStringLiteral("file_hash"),   QStringLiteral("type"),             QStringLiteral("history_id"),
    QStringLiteral("file_id"),     QStringLiteral("file_ready"),       QStringLiteral("file_name"),
    QStringLiteral("change_timestamp"), QStringLiteral("local_file_ok"), QStringLiteral("file_size"),
    QStringLiteral("secert"),      QStringLiteral("category"),         QStringLiteral("favourite"),
    QStringLiteral("key_hash")};

QStringList columns()
{
    QStringList names;
    QSqlQuery q(QStringLiteral("PRAGMA table_info('History')"));
    while (q.next())
        names << q.value(QStringLiteral("name")).toString();
    return names;
}

bool hasIndex()
{
    QSqlQuery q(QStringLiteral("select name from sqlite_master where type='index' and name='History_file_hash_category'"));
    return q.next();
}

// Writes a file with an old layout through a separate connection.
void prepare(const QString &path, const QStringList &statements)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("prepare"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        for (const QString &s : statements)
            QVERIFY2(q.exec(s), qPrintable(s));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("prepare"));
}

const QString kOld13 = QStringLiteral(
    "CREATE TABLE History (content TEXT NOT NULL, timeStamp REAL NOT NULL DEFAULT 0, deviceName TEXT, "
    "file_hash TEXT NOT NULL, type TEXT, history_id INTEGER NOT NULL DEFAULT 0, file_id INTEGER NOT NULL DEFAULT 0, "
    "file_ready INTEGER NOT NULL DEFAULT 0, file_name TEXT, change_timestamp INTEGER NOT NULL DEFAULT 0, "
    "local_file_ok INTEGER NOT NULL DEFAULT 0, file_size REAL NOT NULL DEFAULT 0, secert INTEGER NOT NULL DEFAULT 0)");

} // namespace

class TestDBFetcher : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void freshFileGetsTheCurrentTable()
    {
        QVERIFY(DBFetcher::instance()->isOpen()); // the real start-up path, in the test home
        QCOMPARE(columns(), kColumns);
        QVERIFY(hasIndex());
        // Write-ahead log: a reader never blocks a write.
        QSqlQuery mode(QStringLiteral("PRAGMA journal_mode"));
        QVERIFY(mode.next());
        QCOMPARE(mode.value(0).toString(), QStringLiteral("wal"));
    }

    // The freed pages go back once the event loop turns, not while start-up waits.
    void compactedAfterOpening()
    {
        const QString path = m_dir.filePath(QStringLiteral("compact.db"));
        prepare(path, {kOld13,
                       QStringLiteral("with recursive c(x) as (select 1 union all select x + 1 from c where x < 500) "
                                      "insert into History (content, file_hash) select hex(randomblob(2000)), x from c"),
                       QStringLiteral("delete from History")});
        const auto freePages = [] {
            QSqlQuery q(QStringLiteral("PRAGMA freelist_count"));
            return q.next() ? q.value(0).toInt() : -1;
        };
        QVERIFY(DBFetcher::openDatabase(path));
        QVERIFY(freePages() > 100);
        QTRY_COMPARE(freePages(), 0);
    }

    // Older layouts are rebuilt into the current table; each row says which rows must be
    // there after. A layout the rebuild cannot copy keeps its rows where they are.
    void oldLayoutsAreMigrated_data()
    {
        QTest::addColumn<QString>("create");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("rebuilt");
        QString old12 = kOld13;
        old12.replace(QStringLiteral(", secert INTEGER NOT NULL DEFAULT 0"), QString());
        QString noKey = kOld13;
        noKey.chop(1);
        noKey += QStringLiteral(", category TEXT NOT NULL DEFAULT 'history', favourite INTEGER NOT NULL DEFAULT 0)");
        // The row under the empty-content hash is removed.
        QTest::newRow("before categories")
            << kOld13
            << QStringList{QStringLiteral("insert into History (content, timeStamp, file_hash, history_id) values "
                                          "('a', 10, %1, 7)"),
                           QStringLiteral("insert into History (content, timeStamp, file_hash) values "
                                          "('b', 11, 'd41d8cd98f00b204e9800998ecf8427e')")}
            << QStringLiteral("category = 'history' and favourite = 0 and key_hash is null and history_id = 7") << true;
        QTest::newRow("without secert")
            << old12 << QStringList{QStringLiteral("insert into History (content, timeStamp, file_hash) values ('a', 10, %1)")}
            << QStringLiteral("secert = 0 and category = 'history'") << true;
        QTest::newRow("only key_hash missing")
            << noKey
            << QStringList{QStringLiteral("CREATE UNIQUE INDEX History_file_hash_category ON History(file_hash, category)"),
                           QStringLiteral("insert into History (content, timeStamp, file_hash, category, favourite) "
                                          "values ('a', 10, %1, 'favourite', 5)")}
            << QStringLiteral("category = 'favourite' and favourite = 5 and key_hash is null") << true;
        // Another order and a column more: the rebuild cannot copy it.
        QTest::newRow("unknown")
            << QStringLiteral("CREATE TABLE History (file_hash TEXT NOT NULL, content TEXT NOT NULL, timeStamp REAL, "
                              "extra TEXT, secert INTEGER NOT NULL DEFAULT 0)")
            << QStringList{QStringLiteral("insert into History (file_hash, content, timeStamp) values (%1, 'a', 1)")}
            << QStringLiteral("content = 'a'") << false;
    }
    void oldLayoutsAreMigrated()
    {
        QFETCH(QString, create);
        QFETCH(QStringList, rows);
        QFETCH(QString, expected);
        QFETCH(bool, rebuilt);
        const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral(".db"));
        QStringList statements{create};
        for (const QString &row : rows)
            statements << QString(row).replace(QStringLiteral("%1"), QStringLiteral("'0123456789abcdef0123456789abcdef'"));
        prepare(path, statements);
        QVERIFY(DBFetcher::openDatabase(path));
        QCOMPARE(columns() == kColumns, rebuilt);
        QCOMPARE(hasIndex(), rebuilt);
        QCOMPARE(StoreHelper::rows(), 1);
        QCOMPARE(StoreHelper::rows(QStringLiteral("where ") + expected), 1);
        QSqlQuery leftover(QStringLiteral("select name from sqlite_master where name = 'History2'"));
        QVERIFY(!leftover.next());
    }
};

ZORVEL_TEST_MAIN(TestDBFetcher)
#include "tst_DBFetcher.moc"
