// Applying pull replies to the real store: deletions, clear time, new and known
// items, decryption, texts landing as files, and the hand-over at the end.
#include "support/TestMain.h"
#include "NetFixture.h"

#include "app/CFileManager.h"
#include "net/CPullRequest.h"
#include "net/SyncHandOver.h"
#include "store/HistoryQueries.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QSettings>
#include <QtTest>

#include <sys/mount.h>

using namespace NetFixture;

namespace {

QVariantMap item(const QString &content, const QString &type = "text_txt", const QVariantMap &extra = {})
{
    QVariantMap map{{"content", content}, {"timestamp", 5000}, {"device_name", "other-box"}, {"type", type},
                    {"history_id", 700}, {"file_id", 800}, {"file_ready", true}, {"file_size", content.size()},
                    {"file_hash", clipUtils::md5Hex(content.toUtf8())}, {"file_name", QString()}, {"favourite", 0}};
    for (auto i = extra.begin(); i != extra.end(); ++i)
        map.insert(i.key(), i.value());
    return map;
}

// An item encrypted under the current key; its hash stays that of `text`.
QVariantMap sealed(const QString &text, const QString &content)
{
    ZeroManager *zero = ZeroManager::instance();
    return item(text, "text_txt+enc", {{"content", zero->encryptText(content)}, {"key_hash", zero->keyHash()}});
}

QVariantMap reply(const QVariantList &histories, const QVariantMap &extra = {})
{
    QVariantMap map{{"code", 0}, {"histories", histories}};
    for (auto i = extra.begin(); i != extra.end(); ++i)
        map.insert(i.key(), i.value());
    return map;
}

QVariant apply(const QVariantMap &map) { return CPullRequest().parseResponse(QJsonDocument(QJsonObject::fromVariantMap(map)).toJson()); }

// A stored entry with the given history id and its file.
History storedEntry(int i, qint64 historyId, double timestamp, qint64 favourite = 0)
{
    History h;
    h.setContent(QString("stored %1").arg(i));
    h.setFileHash(clipUtils::md5Hex(h.content().toUtf8()));
    h.setTimeStamp(timestamp);
    h.setType("text_txt+enc");
    h.setHistoryId(historyId);
    h.setLocalFileOk(true);
    h.setFavourite(favourite);
    h.save();
    CFileManager::saveFile(h.content().toUtf8(), h.file_hash());
    return h;
}

bool hasFile(const QString &hash) { return QFile::exists(CFileManager::filesPath() + hash); }
QString hashOf(const QVariantMap &item) { return item.value("file_hash").toString(); }

} // namespace

class TestCPullRequest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(DBFetcher::instance()->isOpen());
        clipUtils::settings()->setValue("user_id", "9");
        clipUtils::settings()->setValue("user_token", "pull-token");
        createKey();
    }

    void init()
    {
        wipeStore();
        clipUtils::settings()->remove("request_timestamp");
    }

    void bareSuccessChangesNothing()
    {
        for (int i = 0; i < 61; ++i)
            storedEntry(i, 0, 1000 + i);
        QSignalSpy broker(SyncHandOver::instance(), &SyncHandOver::brokerConnectRequested);
        QSignalSpy files(SyncHandOver::instance(), &SyncHandOver::fileTransferRequested);
        const QVariant out = apply({{"code", 0}});
        QCOMPARE(out.type(), QVariant::Int);
        QCOMPARE(out.toInt(), 0);
        QCOMPARE(rows(), 61);
        QVERIFY(!clipUtils::settings()->contains("request_timestamp"));
        QCOMPARE(broker.count() + files.count(), 0);

        // An empty item list prunes, drops entries without files and hands over. The
        // orphan's content is a preview, not the whole text: no file can be made from it.
        const History orphan = storedEntry(100, 0, 9000);
        QSqlQuery("update History set local_file_ok = 0, content = 'preview…' where file_hash = '" + orphan.file_hash() + "'")
            .exec();
        QCOMPARE(apply(reply({})).toInt(), 0);
        QCOMPARE(rows(), 59); // 62 pruned to 60, then the one without a file
        QVERIFY(!HistoryQueries::exists(clipUtils::md5Hex("stored 1"), "history"));
        QVERIFY(HistoryQueries::exists(clipUtils::md5Hex("stored 2"), "history"));
        QVERIFY(!orphan.exists());
        QCOMPARE(broker.count(), 1);
        QCOMPARE(files.count(), 1); // nothing pending: the history service passes on at once
    }

    void failuresChangeNothing()
    {
        storedEntry(1, 11, 1000);
        QCOMPARE(apply(reply({item("never")}, {{"code", 3}, {"request_timestamp", 777}})).toInt(), 3);
        QVariantMap noCode = reply({item("never")});
        noCode.remove("code");
        QVERIFY(!apply(noCode).isValid());
        for (const QByteArray &body : {QByteArray("not json"), QByteArray("[1, 2]")})
            QVERIFY(!CPullRequest().parseResponse(body).isValid());
        QCOMPARE(rows(), 1);
        QVERIFY(!clipUtils::settings()->contains("request_timestamp"));
    }

    void requestTimestampRoundTrip()
    {
        apply({{"code", 0}, {"request_timestamp", 1700000123}});
        QCOMPARE(clipUtils::settings()->value("request_timestamp").toString(), QString("1700000123"));
        CPullRequest next;
        QCOMPARE(next.lastRequestTimestamp(), 1700000123);
        next.buildUrl();
        QVERIFY(next.url().contains("&last_request_timestamp=1700000123&user_token=pull-token"));

        apply({{"code", 0}, {"request_timestamp", "99999999999"}});
        QCOMPARE(CPullRequest().lastRequestTimestamp(), 0); // out of range: a full pull next time
    }

    void deletionsAndClearTime()
    {
        const History a = storedEntry(1, 11, 1000);
        const History b = storedEntry(2, 12, 1001);
        const History c = storedEntry(3, 13, 1002);
        const History local = storedEntry(4, 0, 1003); // never uploaded
        const auto del = [](const QString &action, const QVariant &id) {
            return QVariantMap{{"action", action}, {"history_id", id}};
        };
        const QVariantList actions = {del("del", 11), del("DEL", "12"), del("delete", 13), del("del", 0),
                                      QVariantMap{{"action", "del"}}, del("del", "13 or 1=1")};
        QCOMPARE(apply({{"code", 0}, {"action", actions}}).toInt(), 0);
        QVERIFY(!a.exists() && !b.exists() && !hasFile(a.file_hash()));
        QVERIFY(c.exists());
        QVERIFY(local.exists() && hasFile(local.file_hash())); // id 0 or a missing id deletes nothing

        // The clear time spares favourites and newer entries.
        const History favourite = storedEntry(5, 15, 1000, 1500);
        const History recent = storedEntry(6, 16, 3000);
        apply({{"code", 0}, {"clear_all_ts", 2000}});
        QVERIFY(!c.exists() && !hasFile(c.file_hash()));
        QVERIFY(favourite.exists() && recent.exists());
    }

    void knownItemKeepsContentButTakesServiceFields()
    {
        History local = storedEntry(1, 0, 4000);
        local.markChanged();
        QVariantMap known = item("different content", "text_txt+enc",
                                 {{"timestamp", 4500}, {"file_hash", local.file_hash()}, {"key_hash", "k1"}, {"file_name", "n.txt"}});
        apply(reply({known}));
        History after = stored(local.file_hash());
        QCOMPARE(after.content(), local.content());
        QCOMPARE(after.history_id(), 700);
        QCOMPARE(after.file_id(), 800);
        QVERIFY(after.file_ready());
        QCOMPARE(after.type(), QString("text_txt+enc"));
        QCOMPARE(after.key_hash(), QString("k1"));
        QCOMPARE(after.file_name(), QString("n.txt"));
        QCOMPARE(after.timeStamp(), 4500.0);
        QCOMPARE(after.change_timestamp(), local.change_timestamp()); // the pending mark stays

        known.insert("timestamp", 4100); // older than stored: time kept
        known.remove("key_hash");
        apply(reply({known}));
        after = stored(local.file_hash());
        QCOMPARE(after.timeStamp(), 4500.0);
        QVERIFY(after.key_hash().isNull());
        QCOMPARE(rows(), 1);
    }

    void newItemsByEncryptionState()
    {
        const QString secret = "密文 ciphered text";
        const QString plain = "plain text";
        const QVariantMap encNoKey = item("enc without key hash", "text_txt+enc");
        const QVariantMap keyNoEnc = item("key hash without enc", "text_txt", {{"key_hash", ZeroManager::instance()->keyHash()}});
        const QVariantMap image = item("thumbnail", "image_tiff+zip", {{"file_hash", clipUtils::md5Hex("the tiff bytes")}});
        // A long text travels as its preview; another entry's ciphertext (valid under
        // the key) handed out under this entry's hash is neither the text nor a preview of it.
        const QString longText = "a long text\n\nwhose preview is all that travels with it in the item";
        const QVariantMap preview = sealed(longText, clipUtils::previewText(longText));
        const QVariantMap swapped = sealed("this entry's own text", "another-entry's-text");

        QCOMPARE(apply(reply({sealed(secret, secret), item(plain), encNoKey, keyNoEnc, image, preview, swapped})).toInt(), 0);

        History got = stored(clipUtils::md5Hex(secret.toUtf8()));
        QCOMPARE(got.content(), secret);
        QVERIFY(got.local_file_ok());
        QCOMPARE(CFileManager::readFile(got.file_hash()), secret.toUtf8());
        QCOMPARE(got.change_timestamp(), 0.0);
        got = stored(clipUtils::md5Hex(plain.toUtf8()));
        QCOMPARE(got.content(), plain);
        QVERIFY(got.local_file_ok() && hasFile(got.file_hash()));

        QVERIFY(!stored(hashOf(encNoKey)).exists() && !hasFile(hashOf(encNoKey)));
        QVERIFY(!stored(hashOf(keyNoEnc)).exists());
        got = stored(hashOf(image));
        QVERIFY(got.exists());
        QVERIFY(!got.local_file_ok() && !hasFile(got.file_hash())); // its file comes with the file service
        got = stored(hashOf(preview));
        QCOMPARE(got.content(), clipUtils::previewText(longText));
        QVERIFY(!got.local_file_ok());
        QVERIFY(!stored(hashOf(swapped)).exists());
        QCOMPARE(rows(), 4);
    }

    void encryptedItemWithoutTheRightKeyIsSkipped()
    {
        const QVariantMap encrypted = sealed("only for the old key", "only for the old key");
        createKey(); // another key now
        apply(reply({encrypted}));
        QCOMPARE(rows(), 0);
        ZeroManager::instance()->clearAllKeys(); // no key at all
        apply(reply({encrypted}));
        QCOMPARE(rows(), 0);
        createKey();
    }

    void itemsWithBadHashesAreSkipped()
    {
        const QVariantMap traversal = item("x", "text_txt", {{"file_hash", "../../../../tmp/zorvel-evil"}});
        const QVariantMap upper = item("y", "text_txt", {{"file_hash", clipUtils::md5Hex("y").toUpper()}});
        const QVariantMap quote = item("z", "text_txt", {{"file_hash", "' or 1=1 --"}});
        const int files = QDir(CFileManager::filesPath()).entryList(QDir::Files).size();
        QCOMPARE(apply(reply({traversal, upper, quote, item("good")})).toInt(), 0);
        QCOMPARE(rows(), 1);
        QVERIFY(!QFile::exists("/tmp/zorvel-evil"));
        QCOMPARE(QDir(CFileManager::filesPath()).entryList(QDir::Files).size(), files + 1);
    }

    // The files folder on a small tmpfs filled to the last block: texts that arrive
    // whole cannot be written (not even as empty files), so their rows stay not local
    // for the file service.
    void fullDiskMarksNothingLocal()
    {
        const QString files = CFileManager::filesPath();
        QVERIFY(QDir().mkpath(files));
        if (::mount("tmpfs", QFile::encodeName(files).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("mounting a tmpfs needs root (CI has it): the full-disk pull did not run");
        const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(files).constData(), MNT_DETACH); });
        QFile filler(files + "filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        filler.close();

        QVariantList items;
        for (int i = 0; i < 3; ++i)
            items << item(QString("arrives on a full disk %1 ").arg(i) + QString(3000, 'x'), "text_txt",
                          {{"timestamp", 6000 + i}, {"history_id", 900 + i}});
        QCOMPARE(apply(reply(items)).toInt(), 0);
        QCOMPARE(rows(), 3);
        QCOMPARE(rows("where local_file_ok = 1"), 0);
        QCOMPARE(QDir(files).entryList(QDir::Files), QStringList({"filler"}));
    }
};

ZORVEL_TEST_MAIN(TestCPullRequest)
#include "tst_CPullRequest.moc"
