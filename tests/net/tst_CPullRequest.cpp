// Applying pull replies to the real store: deletions, clear time, new and known
// items, decryption, texts landing as files, and the hand-over at the end.
#include "support/TestMain.h"
#include "NetFixture.h"

#include "app/CFileManager.h"
#include "net/CPullRequest.h"
#include "net/CRequestPushPost.h"
#include "net/SyncHandOver.h"
#include "store/HistoryQueries.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QtTest>

#include <sys/mount.h>

using namespace NetFixture;

namespace {

QByteArray json(const QVariantMap &map) { return QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(); }

QVariantMap item(const QString &content, const QString &type = QStringLiteral("text_txt"), double timestamp = 5000)
{
    return {{QStringLiteral("content"), content},
            {QStringLiteral("timestamp"), timestamp},
            {QStringLiteral("device_name"), QStringLiteral("other-box")},
            {QStringLiteral("type"), type},
            {QStringLiteral("history_id"), 700},
            {QStringLiteral("file_id"), 800},
            {QStringLiteral("file_ready"), true},
            {QStringLiteral("file_size"), content.size()},
            {QStringLiteral("file_hash"), clipUtils::md5Hex(content.toUtf8())},
            {QStringLiteral("file_name"), QString()},
            {QStringLiteral("favourite"), 0}};
}

QVariantMap reply(const QVariantList &histories)
{
    return {{QStringLiteral("code"), 0}, {QStringLiteral("histories"), histories}};
}

// A stored entry with the given history id and its file.
History storedEntry(int i, qint64 historyId, double timestamp, qint64 favourite = 0)
{
    History h;
    h.setContent(QStringLiteral("stored %1").arg(i));
    h.setFileHash(clipUtils::md5Hex(h.content().toUtf8()));
    h.setTimeStamp(timestamp);
    h.setType(QStringLiteral("text_txt+enc"));
    h.setHistoryId(historyId);
    h.setLocalFileOk(true);
    h.setFavourite(favourite);
    h.save();
    CFileManager::saveFile(h.content().toUtf8(), h.file_hash());
    return h;
}

bool hasFile(const QString &hash) { return QFile::exists(CFileManager::filesPath() + hash); }

} // namespace

class TestCPullRequest : public QObject
{
    Q_OBJECT

    QVariant apply(const QVariantMap &map) { return apply(json(map)); }
    QVariant apply(const QByteArray &body)
    {
        CPullRequest pull;
        return pull.parseResponse(body);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(DBFetcher::instance()->isOpen());
        clipUtils::settings()->setValue(QStringLiteral("user_id"), QStringLiteral("9"));
        clipUtils::settings()->setValue(QStringLiteral("user_token"), QStringLiteral("pull-token"));
        createKey();
    }

    void init()
    {
        wipeStore();
        clipUtils::settings()->remove(QStringLiteral("request_timestamp"));
    }

    void bareSuccessChangesNothing()
    {
        for (int i = 0; i < 61; ++i)
            storedEntry(i, 0, 1000 + i);
        QSignalSpy broker(SyncHandOver::instance(), &SyncHandOver::brokerConnectRequested);
        QSignalSpy files(SyncHandOver::instance(), &SyncHandOver::fileTransferRequested);
        const QVariant out = apply(QVariantMap{{QStringLiteral("code"), 0}});
        QCOMPARE(out.type(), QVariant::Int);
        QCOMPARE(out.toInt(), 0);
        QCOMPARE(rows(), 61);
        QVERIFY(!clipUtils::settings()->contains(QStringLiteral("request_timestamp")));
        QCOMPARE(broker.count(), 0);
        QCOMPARE(files.count(), 0);

        // An empty item list prunes, drops entries without files and hands over.
        History orphan = storedEntry(100, 0, 9000);
        orphan.setLocalFileOk(false);
        // Its content is a preview, not the whole text: no file can be made from it.
        QSqlQuery(QStringLiteral("update History set local_file_ok = 0, content = 'preview…' where file_hash = '%1'")
                      .arg(orphan.file_hash()))
            .exec();
        QCOMPARE(apply(reply({})).toInt(), 0);
        QCOMPARE(rows(), 59); // 62 pruned to 60, then the one without a file
        QVERIFY(!HistoryQueries::exists(clipUtils::md5Hex("stored 1"), QStringLiteral("history")));
        QVERIFY(HistoryQueries::exists(clipUtils::md5Hex("stored 2"), QStringLiteral("history")));
        QCOMPARE(rows(QStringLiteral("where file_hash = '%1'").arg(orphan.file_hash())), 0);
        QCOMPARE(broker.count(), 1);
        QCOMPARE(files.count(), 1); // nothing pending: the history service passes on at once
    }

    void failuresChangeNothing()
    {
        storedEntry(1, 11, 1000);
        QVariantMap refused = reply({item(QStringLiteral("never"))});
        refused.insert(QStringLiteral("code"), 3);
        refused.insert(QStringLiteral("request_timestamp"), 777);
        QCOMPARE(apply(refused).toInt(), 3);
        QVERIFY(!apply(QByteArray("not json")).isValid());
        QVERIFY(!apply(QByteArray("[1, 2]")).isValid());
        QVariantMap noCode = reply({item(QStringLiteral("never"))});
        noCode.remove(QStringLiteral("code"));
        QVERIFY(!apply(noCode).isValid());
        QCOMPARE(rows(), 1);
        QVERIFY(!clipUtils::settings()->contains(QStringLiteral("request_timestamp")));
    }

    void requestTimestampRoundTrip()
    {
        apply(QVariantMap{{QStringLiteral("code"), 0}, {QStringLiteral("request_timestamp"), 1700000123}});
        QCOMPARE(clipUtils::settings()->value(QStringLiteral("request_timestamp")).toString(), QStringLiteral("1700000123"));
        CPullRequest next;
        QCOMPARE(next.lastRequestTimestamp(), 1700000123);
        next.buildUrl();
        QVERIFY(next.url().contains(QLatin1String("&last_request_timestamp=1700000123&user_token=pull-token")));

        apply(QVariantMap{{QStringLiteral("code"), 0}, {QStringLiteral("request_timestamp"), QStringLiteral("99999999999")}});
        QCOMPARE(CPullRequest().lastRequestTimestamp(), 0); // out of range: a full pull next time
    }

    void deletionsByHistoryId()
    {
        const History a = storedEntry(1, 11, 1000);
        const History b = storedEntry(2, 12, 1001);
        const History c = storedEntry(3, 13, 1002);
        const History local = storedEntry(4, 0, 1003); // never uploaded
        const QVariantList actions = {
            QVariantMap{{QStringLiteral("action"), QStringLiteral("del")}, {QStringLiteral("history_id"), 11}},
            QVariantMap{{QStringLiteral("action"), QStringLiteral("DEL")}, {QStringLiteral("history_id"), QStringLiteral("12")}},
            QVariantMap{{QStringLiteral("action"), QStringLiteral("delete")}, {QStringLiteral("history_id"), 13}},
            QVariantMap{{QStringLiteral("action"), QStringLiteral("del")}, {QStringLiteral("history_id"), 0}},
            QVariantMap{{QStringLiteral("action"), QStringLiteral("del")}},
            QVariantMap{{QStringLiteral("action"), QStringLiteral("del")}, {QStringLiteral("history_id"), QStringLiteral("13 or 1=1")}},
        };
        QCOMPARE(apply(QVariantMap{{QStringLiteral("code"), 0}, {QStringLiteral("action"), actions}}).toInt(), 0);
        QVERIFY(!a.exists());
        QVERIFY(!b.exists());
        QVERIFY(!hasFile(a.file_hash()));
        QVERIFY(c.exists());
        QVERIFY(local.exists()); // id 0 or a missing id deletes nothing
        QVERIFY(hasFile(local.file_hash()));
    }

    void clearTimeSparesFavouritesAndNewerEntries()
    {
        const History old = storedEntry(1, 11, 1000);
        const History favourite = storedEntry(2, 12, 1000, 1500);
        const History recent = storedEntry(3, 13, 3000);
        apply(QVariantMap{{QStringLiteral("code"), 0}, {QStringLiteral("clear_all_ts"), 2000}});
        QVERIFY(!old.exists());
        QVERIFY(!hasFile(old.file_hash()));
        QVERIFY(favourite.exists());
        QVERIFY(recent.exists());
    }

    void knownItemKeepsContentButTakesServiceFields()
    {
        History local = storedEntry(1, 0, 4000);
        local.markChanged();
        QVariantMap known = item(QStringLiteral("different content"), QStringLiteral("text_txt+enc"), 4500);
        known.insert(QStringLiteral("file_hash"), local.file_hash());
        known.insert(QStringLiteral("key_hash"), QStringLiteral("k1"));
        known.insert(QStringLiteral("file_name"), QStringLiteral("n.txt"));
        apply(reply({known}));
        History after = stored(local.file_hash());
        QCOMPARE(after.content(), local.content());
        QCOMPARE(after.history_id(), 700);
        QCOMPARE(after.file_id(), 800);
        QVERIFY(after.file_ready());
        QCOMPARE(after.type(), QStringLiteral("text_txt+enc"));
        QCOMPARE(after.key_hash(), QStringLiteral("k1"));
        QCOMPARE(after.file_name(), QStringLiteral("n.txt"));
        QCOMPARE(after.timeStamp(), 4500.0);
        QCOMPARE(after.change_timestamp(), local.change_timestamp()); // the pending mark stays

        known.insert(QStringLiteral("timestamp"), 4100); // older than stored: time kept
        known.remove(QStringLiteral("key_hash"));
        apply(reply({known}));
        after = stored(local.file_hash());
        QCOMPARE(after.timeStamp(), 4500.0);
        QVERIFY(after.key_hash().isNull());
        QCOMPARE(rows(), 1);
    }

    void newItemsByEncryptionState()
    {
        ZeroManager *zero = ZeroManager::instance();
        const QString secret = QStringLiteral("密文 ciphered text");
        QVariantMap encrypted = item(secret, QStringLiteral("text_txt+enc"));
        encrypted.insert(QStringLiteral("content"), zero->encryptText(secret));
        encrypted.insert(QStringLiteral("key_hash"), zero->keyHash());

        const QString plain = QStringLiteral("plain text");
        QVariantMap encNoKey = item(QStringLiteral("enc without key hash"), QStringLiteral("text_txt+enc"));
        QVariantMap keyNoEnc = item(QStringLiteral("key hash without enc"));
        keyNoEnc.insert(QStringLiteral("key_hash"), zero->keyHash());
        QVariantMap image = item(QStringLiteral("thumbnail"), QStringLiteral("image_tiff+zip"));
        image.insert(QStringLiteral("file_hash"), clipUtils::md5Hex("the tiff bytes"));
        // A long text travels as its preview; another entry's ciphertext (valid under
        // the key) handed out under this entry's hash is neither the text nor a preview of it.
        const QString longText = QStringLiteral("a long text\n\nwhose preview is all that travels with it in the item");
        QVariantMap preview = item(longText, QStringLiteral("text_txt+enc"));
        preview.insert(QStringLiteral("content"), zero->encryptText(clipUtils::previewText(longText)));
        preview.insert(QStringLiteral("key_hash"), zero->keyHash());
        QVariantMap swapped = item(QStringLiteral("this entry's own text"), QStringLiteral("text_txt+enc"));
        swapped.insert(QStringLiteral("content"), zero->encryptText(QStringLiteral("another-entry's-text")));
        swapped.insert(QStringLiteral("key_hash"), zero->keyHash());

        QCOMPARE(apply(reply({encrypted, item(plain), encNoKey, keyNoEnc, image, preview, swapped})).toInt(), 0);

        const QString secretHash = clipUtils::md5Hex(secret.toUtf8());
        History got = stored(secretHash);
        QCOMPARE(got.content(), secret);
        QVERIFY(got.local_file_ok());
        QCOMPARE(CFileManager::readFile(got.file_hash()), secret.toUtf8());
        QCOMPARE(got.change_timestamp(), 0.0);

        got = stored(clipUtils::md5Hex(plain.toUtf8()));
        QCOMPARE(got.content(), plain);
        QVERIFY(got.local_file_ok());
        QVERIFY(hasFile(got.file_hash()));

        QVERIFY(!stored(encNoKey.value(QStringLiteral("file_hash")).toString()).exists());
        QVERIFY(!hasFile(encNoKey.value(QStringLiteral("file_hash")).toString()));
        QVERIFY(!stored(keyNoEnc.value(QStringLiteral("file_hash")).toString()).exists());

        got = stored(image.value(QStringLiteral("file_hash")).toString());
        QVERIFY(got.exists());
        QVERIFY(!got.local_file_ok()); // its file comes with the file service
        QVERIFY(!hasFile(got.file_hash()));

        got = stored(preview.value(QStringLiteral("file_hash")).toString());
        QCOMPARE(got.content(), clipUtils::previewText(longText));
        QVERIFY(!got.local_file_ok());
        QVERIFY(!stored(swapped.value(QStringLiteral("file_hash")).toString()).exists());
        QCOMPARE(rows(), 4);
    }

    void encryptedItemWithoutTheRightKeyIsSkipped()
    {
        ZeroManager *zero = ZeroManager::instance();
        const QString secret = QStringLiteral("only for the old key");
        QVariantMap encrypted = item(secret, QStringLiteral("text_txt+enc"));
        encrypted.insert(QStringLiteral("content"), zero->encryptText(secret));
        encrypted.insert(QStringLiteral("key_hash"), zero->keyHash());
        const QVariantMap keep = zero->createKey(QStringLiteral("1234"));
        Q_UNUSED(keep)
        zero->commitPendingKey(); // another key now
        apply(reply({encrypted}));
        QCOMPARE(rows(), 0);
        zero->clearAllKeys(); // no key at all
        apply(reply({encrypted}));
        QCOMPARE(rows(), 0);
        createKey();
    }

    void itemsWithBadHashesAreSkipped()
    {
        QVariantMap traversal = item(QStringLiteral("x"));
        traversal.insert(QStringLiteral("file_hash"), QStringLiteral("../../../../tmp/zorvel-evil"));
        QVariantMap upper = item(QStringLiteral("y"));
        upper.insert(QStringLiteral("file_hash"), clipUtils::md5Hex("y").toUpper());
        QVariantMap quote = item(QStringLiteral("z"));
        quote.insert(QStringLiteral("file_hash"), QStringLiteral("' or 1=1 --"));
        const int files = QDir(CFileManager::filesPath()).entryList(QDir::Files).size();
        QCOMPARE(apply(reply({traversal, upper, quote, item(QStringLiteral("good"))})).toInt(), 0);
        QCOMPARE(rows(), 1);
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/zorvel-evil")));
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
        QFile filler(files + QStringLiteral("filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        filler.close();

        QVariantList items;
        for (int i = 0; i < 3; ++i) {
            QVariantMap one = item(QStringLiteral("arrives on a full disk %1 ").arg(i) + QString(3000, QLatin1Char('x')),
                                   QStringLiteral("text_txt"), 6000 + i);
            one.insert(QStringLiteral("history_id"), 900 + i);
            items << one;
        }
        QCOMPARE(apply(reply(items)).toInt(), 0);
        QCOMPARE(rows(), 3);
        QSqlQuery q(QStringLiteral("select file_hash from History where local_file_ok = 1"));
        while (q.next())
            QVERIFY2(hasFile(q.value(0).toString()), qPrintable(q.value(0).toString()));
        QCOMPARE(rows(QStringLiteral("where local_file_ok = 1")), 0);
        QCOMPARE(QDir(files).entryList(QDir::Files), QStringList({QStringLiteral("filler")}));
    }

    // 600 entries on the account: a device that has none gets every page in one
    // sync and keeps the newest 60, not the last 60 of the first page.
    void freshDeviceFirstSyncDrainsEveryPage()
    {
        QCOMPARE(signUp(uniqueEmail(), QStringLiteral("paged")).code(), 0);
        createKey();
        const int total = 600;
        int pushed = 0;
        for (int batch = 0; batch < total; batch += 50) { // 50 at a time: quicker than one by one
            int done = 0;
            for (int i = batch; i < batch + 50; ++i) {
                History h;
                h.setContent(QStringLiteral("paged entry %1").arg(i));
                h.setFileHash(clipUtils::md5Hex(h.content().toUtf8()));
                h.setTimeStamp(100000 + i);
                h.setType(QStringLiteral("text_txt+enc"));
                h.setFileSize(h.content().size());
                auto *push = new CRequestPushPost;
                push->setHistory(h);
                connect(push, &CBaseRequest::responseData, this, [&](CBaseRequest *r, QVariant code) {
                    pushed += code.toInt() == 0 && code.isValid();
                    ++done;
                    r->deleteLater();
                });
                push->start();
            }
            QTRY_COMPARE_WITH_TIMEOUT(done, 50, 30000);
        }
        QCOMPARE(pushed, total);

        wipeStore();
        clipUtils::settings()->remove(QStringLiteral("request_timestamp"));
        auto *pull = new CPullRequest;
        int exchanges = 0;
        // The manager is the program's one: the counter is connected for this test only.
        QObject counter;
        connect(pull->networkAccessManager(), &QNetworkAccessManager::finished, &counter, [&exchanges] { ++exchanges; });
        const Outcome out = run(pull);
        QCOMPARE(out.data.toInt(), 0);
        QCOMPARE(out.reports, 1);
        QCOMPARE(exchanges, 2); // 500 + 100
        QCOMPARE(rows(), 60);
        for (int i = total - 60; i < total; ++i)
            QVERIFY2(stored(clipUtils::md5Hex(QStringLiteral("paged entry %1").arg(i).toUtf8())).local_file_ok(),
                     qPrintable(QString::number(i)));

        // Nothing new: one exchange, nothing changes.
        auto *again = new CPullRequest;
        exchanges = 0;
        QCOMPARE(run(again).data.toInt(), 0);
        QCOMPARE(exchanges, 1);
        QCOMPARE(rows(), 60);
    }
};

ZORVEL_TEST_MAIN(TestCPullRequest)
#include "tst_CPullRequest.moc"
