#include "support/TestMain.h"

#include "store/DBFetcher.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

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

int count(const QString &where = QString())
{
    QSqlQuery q(QStringLiteral("select count(*) from History ") + where);
    return q.next() ? q.value(0).toInt() : -1;
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
    }

    void tableFromBeforeCategoriesIsRebuilt()
    {
        const QString path = m_dir.filePath(QStringLiteral("old13.db"));
        prepare(path, {kOld13,
                       QStringLiteral("insert into History (content, timeStamp, file_hash, history_id) "
                                      "values ('a', 10, '0123456789abcdef0123456789abcdef', 7)"),
                       QStringLiteral("insert into History (content, timeStamp, file_hash) "
                                      "values ('b', 11, 'd41d8cd98f00b204e9800998ecf8427e')")});
        QVERIFY(DBFetcher::openDatabase(path));
        QCOMPARE(columns(), kColumns);
        QVERIFY(hasIndex());
        QCOMPARE(count(), 1); // the empty-content hash is removed
        QSqlQuery q(QStringLiteral("select category, favourite, key_hash, history_id from History"));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("history"));
        QCOMPARE(q.value(1).toInt(), 0);
        QVERIFY(q.value(2).isNull());
        QCOMPARE(q.value(3).toInt(), 7);
    }

    void oldestLayoutWithoutSecertIsMigratedToo()
    {
        QString old12 = kOld13;
        old12.replace(QStringLiteral(", secert INTEGER NOT NULL DEFAULT 0"), QString());
        const QString path = m_dir.filePath(QStringLiteral("old12.db"));
        prepare(path, {old12, QStringLiteral("insert into History (content, timeStamp, file_hash) "
                                             "values ('a', 10, '0123456789abcdef0123456789abcdef')")});
        QVERIFY(DBFetcher::openDatabase(path));
        QCOMPARE(columns(), kColumns);
        QCOMPARE(count(QStringLiteral("where secert = 0 and category = 'history'")), 1);
    }

    void onlyKeyHashMissing()
    {
        QString create = kOld13;
        create.chop(1);
        create += QStringLiteral(", category TEXT NOT NULL DEFAULT 'history', favourite INTEGER NOT NULL DEFAULT 0)");
        const QString path = m_dir.filePath(QStringLiteral("nokey.db"));
        prepare(path, {create,
                       QStringLiteral("insert into History (content, timeStamp, file_hash, category, favourite) "
                                      "values ('a', 10, '0123456789abcdef0123456789abcdef', 'favourite', 5)")});
        QVERIFY(DBFetcher::openDatabase(path));
        QCOMPARE(columns(), kColumns);
        QSqlQuery q(QStringLiteral("select category, favourite, key_hash from History where content = 'a'"));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("favourite"));
        QCOMPARE(q.value(1).toInt(), 5);
        QVERIFY(q.value(2).isNull());
    }

    void unknownLayoutKeepsItsRows()
    {
        // Thirteen columns in another order plus one more: the rebuild cannot copy
        // it and must leave the rows where they are.
        const QString path = m_dir.filePath(QStringLiteral("odd.db"));
        prepare(path, {QStringLiteral("CREATE TABLE History (file_hash TEXT NOT NULL, content TEXT NOT NULL, "
                                      "timeStamp REAL, extra TEXT, secert INTEGER NOT NULL DEFAULT 0)"),
                       QStringLiteral("insert into History (file_hash, content, timeStamp) "
                                      "values ('0123456789abcdef0123456789abcdef', 'kept', 1)")});
        QVERIFY(DBFetcher::openDatabase(path));
        QCOMPARE(count(QStringLiteral("where content = 'kept'")), 1);
        QSqlQuery leftover(QStringLiteral("select name from sqlite_master where name = 'History2'"));
        QVERIFY(!leftover.next());
    }
};

ZORVEL_TEST_MAIN(TestDBFetcher)
#include "tst_DBFetcher.moc"
