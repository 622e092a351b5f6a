#include "support/TestMain.h"
#include "support/StoreHelper.h"

#include "app/CFileManager.h"
#include "app/clipUtils.h"
#include "store/HistoryQueries.h"
#include "store/HistoryStore.h"
#include "store/SqlQuery.h"

using StoreHelper::rows;
using StoreHelper::wipe;

namespace {

// The current table, in this order.
const QStringList kColumns = QStringLiteral("content timeStamp deviceName file_hash type history_id file_id file_ready "
                                            "file_name change_timestamp local_file_ok file_size secert category "
                                            "favourite key_hash")
                                 .split(QLatin1Char(' '));

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

QString hashOf(int i) { return clipUtils::md5Hex(QByteArray::number(i)); }

History entry(int i, double timestamp, const QString &category = QStringLiteral("history"))
{
    History h;
    h.setContent(QStringLiteral("entry %1").arg(i));
    h.setFileHash(hashOf(i));
    h.setTimeStamp(timestamp);
    h.setType(QStringLiteral("text_txt+enc"));
    h.setCategory(category);
    h.setLocalFileOk(true);
    return h;
}

// Creates the files an entry owns (files/, zip/ and, with a key, encrypt/).
void touchFiles(const History &h)
{
    QStringList paths{CFileManager::filesPath() + h.file_hash(), CFileManager::zipPath() + h.file_hash()};
    if (!h.cipherHash().isEmpty())
        paths << CFileManager::encryptPath() + h.cipherHash();
    for (const QString &path : paths) {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write("x");
    }
}

bool hasFiles(const History &h)
{
    return QFile::exists(CFileManager::filesPath() + h.file_hash())
        && QFile::exists(CFileManager::zipPath() + h.file_hash());
}

} // namespace

// The database file (its table, older layouts), the record itself (defaults, the
// key-hash rule, the map conversions) and the store.
class TestHistoryStore : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    static History full()
    {
        History h;
        h.setContent(QStringLiteral("内容"));
        h.setTimeStamp(1700000000);
        h.setDeviceName(QStringLiteral("host"));
        h.setFileHash(QStringLiteral("0123456789abcdef0123456789abcdef"));
        h.setType(QStringLiteral("text_txt+enc"));
        h.setHistoryId(Q_INT64_C(9007199254740993));
        h.setFileId(77);
        h.setFileReady(true);
        h.setFileName(QStringLiteral("a.txt"));
        h.setLocalFileOk(true);
        h.setFileSize(12);
        h.setSecert(true);
        h.setCategory(QStringLiteral("favourite"));
        h.setFavourite(-1700000001);
        h.setKeyHash(QStringLiteral("ffffffffffffffffffffffffffffffff"));
        return h;
    }

private slots:
    void init() { wipe(); }

    // First: the real start-up path, in the test home.
    void freshFileGetsTheCurrentTable()
    {
        QVERIFY(DBFetcher::instance()->isOpen());
        QCOMPARE(columns(), kColumns);
        QVERIFY(hasIndex());
        // Write-ahead log: a reader never blocks a write.
        QSqlQuery mode(QStringLiteral("PRAGMA journal_mode"));
        QVERIFY(mode.next());
        QCOMPARE(mode.value(0).toString(), QStringLiteral("wal"));
    }

    void recordKeyHashRuleAndMaps()
    {
        History h;
        QCOMPARE(h.category(), QStringLiteral("history"));
        QVERIFY(h.isEmpty() && h.favourite() == 0);
        h = full();
        QCOMPARE(h.cipherHash(), QStringLiteral("aae1c604d097d2998468ab81d6b53331")); // md5("<file hash>+<key hash>")
        h.setKeyHash(QString(""));
        QVERIFY(h.key_hash().isNull() && h.cipherHash().isNull());
        QVERIFY(!h.toMap().contains(QStringLiteral("key_hash")));
        QVERIFY(!h.toPushMap().contains(QStringLiteral("key_hash")));

        // The full map round trip; the push map carries only what the service takes.
        h = full();
        const History back = History::fromMap(h.toMap());
        QCOMPARE(back.toMap(), h.toMap());
        QCOMPARE(back.history_id(), h.history_id()); // beyond 2^53 stays exact
        const QVariantMap push = full().toPushMap();
        QCOMPARE(push.keys().size(), 9);
        QVERIFY(!push.contains(QStringLiteral("secert")));
        QVERIFY(!push.contains(QStringLiteral("history_id")));
        QCOMPARE(push.value(QStringLiteral("device_name")).toString(), QStringLiteral("host"));

        // A service item leaves the local fields at their defaults.
        QVariantMap item = full().toMap();
        item.insert(QStringLiteral("history_id"), QStringLiteral("123")); // ids may arrive as text
        const History served = History::fromServiceItem(item);
        QCOMPARE(served.history_id(), 123);
        QCOMPARE(served.category(), QStringLiteral("history"));
        QVERIFY(!served.secert() && !served.local_file_ok());
        QCOMPARE(served.key_hash(), QStringLiteral("ffffffffffffffffffffffffffffffff"));
    }

    void saveUpdatesWithoutTouchingLocalMarks()
    {
        History h = entry(1, 100);
        h.setSecert(true);
        h.save();
        h.markChanged();
        const double mark = h.change_timestamp();
        QVERIFY(mark > 0);

        History again = entry(1, 200);
        again.setHistoryId(55);
        again.save(); // the row exists: secert and the pending mark stay
        History loaded = entry(1, 0);
        QVERIFY(loaded.exists());
        loaded.load();
        QCOMPARE(rows(), 1);
        QCOMPARE(loaded.timeStamp(), 200.0);
        QCOMPARE(loaded.history_id(), 55);
        QVERIFY(loaded.secert());
        QCOMPARE(loaded.change_timestamp(), mark);
        QVERIFY(!HistoryQueries::exists(hashOf(1), QStringLiteral("favourite")));
    }

    void pruningKeepsSixtyWithTies()
    {
        for (int i = 0; i < 62; ++i)
            entry(i, i < 3 ? 500 : 1000 + i).save(); // the 60th newest ties with two older ones
        HistoryStore::pruneCategory(QStringLiteral("history"));
        QCOMPARE(rows(), 62);
    }

    void fileCleanUpSparesFilesStillInUse()
    {
        for (int i = 0; i < 61; ++i) {
            History h = entry(i, 1000 + i);
            h.setKeyHash(i == 0 ? QStringLiteral("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa") : QString());
            h.save();
            touchFiles(h);
        }
        History fav = entry(0, 1);
        fav.setCategory(QStringLiteral("favourite"));
        fav.save();
        History oldest = entry(0, 1000);
        oldest.setKeyHash(QStringLiteral("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"));
        HistoryStore::pruneCategory(QStringLiteral("history"));
        QCOMPARE(rows(), 61); // sixty kept, and the favourite
        QVERIFY(!HistoryQueries::exists(hashOf(0), QStringLiteral("history")));
        QVERIFY(hasFiles(oldest)); // the favourite still uses them

        HistoryQueries::remove(hashOf(0), QStringLiteral("favourite"));
        for (int i = 100; i < 102; ++i)
            entry(i, 5000 + i).save();
        HistoryStore::pruneCategory(QStringLiteral("history"));
        QVERIFY(hasFiles(oldest)); // not in this pruning's list
        HistoryStore::clearAll();
        QCOMPARE(rows(), 0);
        for (int i = 1; i < 61; ++i)
            QVERIFY(!hasFiles(entry(i, 0)));
    }

    void clearingByIdOrTimeKeepsFavourites()
    {
        History a = entry(1, 100);
        a.setHistoryId(11);
        a.save();
        touchFiles(a);
        History favCopy = entry(1, 100, QStringLiteral("favourite"));
        favCopy.setHistoryId(12);
        favCopy.setFavourite(90);
        favCopy.save();
        entry(2, 300).save();

        HistoryStore::deleteByHistoryId(11);
        QCOMPARE(rows(), 2);
        QVERIFY(hasFiles(a)); // the favourite with another id keeps its content

        HistoryStore::clearNonFavouritesBefore(200);
        QCOMPARE(rows(), 2); // the favourite row is marked and entry 2 is newer
        HistoryStore::clearNonFavourites();
        QCOMPARE(rows(), 1);
        QCOMPARE(HistoryQueries::listFavourite().size(), 1);
    }

    void pendingMarkClearedOnlyIfUnchanged()
    {
        History h = entry(1, 100);
        h.save();
        h.setChangeTimestamp(10);
        QSqlQuery(QStringLiteral("update History set change_timestamp = 10")).exec();
        History pushed = h; // the push carried mark 10
        QSqlQuery(QStringLiteral("update History set change_timestamp = 11")).exec(); // changed meanwhile
        pushed.clearChangeIfUnchanged();
        QCOMPARE(rows(QStringLiteral("where change_timestamp = 11")), 1);
        pushed.setChangeTimestamp(11);
        pushed.clearChangeIfUnchanged();
        QCOMPARE(rows(QStringLiteral("where change_timestamp = 0")), 1);
    }

    void pushSelectionBoundaries()
    {
        auto pending = [](int i, double ts, double size, bool secret, const QString &category) {
            History h = entry(i, ts, category);
            h.setFileSize(size);
            h.setSecert(secret);
            h.save();
            h.markChanged();
        };
        pending(1, 400, 5767169, false, QStringLiteral("history"));
        pending(2, 300, 10, true, QStringLiteral("history"));
        pending(3, 500, 10, false, QStringLiteral("favourite"));
        QVERIFY(HistoryQueries::nextPushHistory().isNull());
        pending(4, 100, 5767168, false, QStringLiteral("history"));
        pending(5, 50, 1, false, QStringLiteral("history"));
        QCOMPARE(HistoryQueries::nextPushHistory()->file_hash(), hashOf(4)); // newest eligible
        QCOMPARE(HistoryQueries::nextPushFavourite()->file_hash(), hashOf(3));
    }

    void listsAndSelections()
    {
        for (int i = 0; i < 45; ++i)
            entry(i, 1000 + i).save();
        const HistoryList list = HistoryQueries::listHistory();
        QCOMPARE(list.size(), 30);
        QCOMPARE(list.first().file_hash(), hashOf(44));
        QCOMPARE(list.last().file_hash(), hashOf(15));
        QCOMPARE(HistoryQueries::textSince(1040).size(), 5);
        QCOMPARE(HistoryQueries::textSince(1040).first().file_hash(), hashOf(40)); // oldest first
        QCOMPARE(HistoryQueries::listByType(QStringLiteral("history"), QStringLiteral("image%")).size(), 0);

        History fav = entry(7, 1, QStringLiteral("favourite"));
        fav.setHistoryId(Q_INT64_C(4000000000));
        fav.setFavourite(123);
        fav.save();
        const QVariantMap marks = HistoryQueries::favouriteMarks();
        QCOMPARE(marks.value(QStringLiteral("4000000000")).toMap().value(QStringLiteral("favourite")).toLongLong(), 123);
        QCOMPARE(HistoryQueries::findByHistoryId(Q_INT64_C(4000000000), QStringLiteral("favourite"))->file_hash(),
                 hashOf(7));
    }

    void fileStateAndKeyReset()
    {
        History h = entry(1, 100);
        h.save();
        HistoryQueries::setFileReady(true, QString(), hashOf(1));
        QCOMPARE(rows(QStringLiteral("where key_hash = 'NULL' and file_ready = 1")), 1);
        History other = entry(2, 100);
        other.setKeyHash(QStringLiteral("k2"));
        other.setHistoryId(5);
        other.save();
        History remoteOnly = entry(3, 100);
        remoteOnly.setLocalFileOk(false);
        remoteOnly.setFileReady(true);
        remoteOnly.save();

        HistoryQueries::resetForKey(QString());
        QCOMPARE(rows(), 3); // an empty key hash does nothing at all
        HistoryQueries::resetForKey(QStringLiteral("k1"));
        QCOMPARE(rows(QStringLiteral("where key_hash is null and history_id = 0 and file_ready = 0")), 2);
        QCOMPARE(rows(), 2); // the entry without a local file is gone

        History missing = entry(4, 100);
        missing.setLocalFileOk(false);
        missing.save();
        HistoryQueries::removeWithoutFiles();
        QVERIFY(!missing.exists());
    }

    void outsideTextCannotReachOtherRowsOrFiles()
    {
        History victim = entry(1, 100);
        victim.setHistoryId(1);
        victim.save();
        touchFiles(victim);
        const QString canary = QDir::homePath() + QStringLiteral("/canary");
        QFile c(canary);
        QVERIFY(c.open(QIODevice::WriteOnly));
        c.close();

        const QStringList evil = {QStringLiteral("' or '1'='1"), QStringLiteral("x'; delete from History; --"),
                                  QStringLiteral("../../../canary"), QStringLiteral("../../../../canary")};
        for (const QString &hash : evil) {
            HistoryStore::deleteEntry(hash, QStringLiteral("k"));
            HistoryQueries::removeByHash(hash);
            HistoryQueries::unsetSecret(hash);
            HistoryQueries::resetUpload(hash);
            History bad = entry(2, 100);
            bad.setFileHash(hash);
            bad.save(); // refused: not a digest
            bad.markChanged();
        }
        QCOMPARE(rows(), 1);
        QCOMPARE(rows(QStringLiteral("where history_id = 1")), 1);
        QVERIFY(hasFiles(victim));
        QVERIFY(QFile::exists(canary));
        QCOMPARE(HistoryQueries::takeByHistoryId(-1).size(), 0);
        QCOMPARE(rows(), 1);
    }

    // Last: each opens another file.
    // Older layouts are rebuilt into the current table; each row says which rows must be
    // there after. A layout the rebuild cannot copy keeps its rows where they are.
    // Statements are parsed once and kept: the same one run inside a loop over its
    // rows (a nested call) leaves the loop alone.
    void keptStatementServesNestedUse()
    {
        for (int i = 0; i < 3; ++i)
            entry(i, 1000 + i).save();
        const QString text = QStringLiteral("select timeStamp from History where timeStamp >= :ts order by timeStamp");
        SqlQuery outer(text);
        outer.bind(QStringLiteral(":ts"), 0);
        QVERIFY(outer.exec());
        int seen = 0;
        for (; outer.next(); ++seen) {
            SqlQuery inner(text);
            inner.bind(QStringLiteral(":ts"), 1002);
            QVERIFY(inner.exec() && inner.next() && !inner.next() && outer.value(0).toInt() == 1000 + seen);
        }
        QCOMPARE(seen, 3);
    }

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
        // Through a statement kept from the file opened before: it must read this one.
        QVERIFY(HistoryQueries::hashInUse(QStringLiteral("0123456789abcdef0123456789abcdef")));
        QCOMPARE(columns() == kColumns, rebuilt);
        QCOMPARE(hasIndex(), rebuilt);
        QCOMPARE(StoreHelper::rows(), 1);
        QCOMPARE(StoreHelper::rows(QStringLiteral("where ") + expected), 1);
        QSqlQuery leftover(QStringLiteral("select name from sqlite_master where name = 'History2'"));
        QVERIFY(!leftover.next());
    }
};

ZORVEL_TEST_MAIN(TestHistoryStore)
#include "tst_HistoryStore.moc"
