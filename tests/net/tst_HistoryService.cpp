// Push requests, the history service, the favourites merge and the file transfer
// against the local service. (The encrypted zip round trip runs between two devices
// in the sync tests.)
#include "support/TestMain.h"
#include "NetFixture.h"

#include "app/CFileManager.h"
#include "net/CRequestGetFavourite.h"
#include "net/CRequestPushDel.h"
#include "net/CRequestPushGet.h"
#include "net/CRequestPushPost.h"
#include "net/CRequestSetFavourite.h"
#include "net/FavouriteService.h"
#include "net/FileService.h"
#include "net/HistoryService.h"
#include "net/SyncHandOver.h"
#include "store/HistoryQueries.h"

using namespace NetFixture;

namespace {

QString decrypted(const QVariantMap &item) { return ZeroManager::instance()->decryptText(item.value("content").toString()); }

void update(const QString &set, const History &h)
{
    QSqlQuery("update History set " + set + " where file_hash = '" + h.file_hash() + "'").exec();
}

// A favourite marked at `mark`: history row and favourite row, pending.
History favourite(const QString &text, qint64 mark)
{
    History h = captureText(text);
    h.setFavourite(mark);
    h.save();
    h.setCategory("favourite");
    h.save();
    h.markChanged();
    return stored(h.file_hash(), "favourite");
}

// An entry whose file is under files/, pushed so the service knows its ids.
History pushedEntry(const QByteArray &bytes, const QString &type)
{
    History h;
    h.setFileHash(clipUtils::md5Hex(bytes));
    h.setContent("entry");
    h.setTimeStamp(clipUtils::currentTime());
    h.setType(type);
    h.setFileSize(bytes.size());
    h.setLocalFileOk(true);
    CFileManager::saveFile(bytes, h.file_hash());
    h.save();
    send<CRequestPushPost>(h);
    return stored(h.file_hash());
}

bool uploaded(const History &h) { return upload(h, QString::number(h.file_id())).data == QVariant(0); }

} // namespace

class TestHistoryService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(DBFetcher::instance()->isOpen());
        QCOMPARE(signUp(uniqueEmail(), "secret").code(), 0);
        createKey();
    }

    void init() { wipeStore(); }

    void chainPushesNewestFirstThenHandsOver()
    {
        const History older = captureText("older entry", 1000);
        const History newer = captureText("newer entry", 2000);
        QVERIFY(pushPending());
        QVERIFY(!HistoryService::instance()->isBusy());
        const History a = stored(older.file_hash());
        const History b = stored(newer.file_hash());
        QVERIFY(0 < b.history_id() && b.history_id() < a.history_id()); // the newer one went first
        QCOMPARE(a.change_timestamp() + b.change_timestamp(), 0.0);
        QCOMPARE(b.key_hash(), ZeroManager::instance()->keyHash());
        QCOMPARE(decrypted(serviceCopy(newer.file_hash())), newer.content());

        // A second change goes as PUT: metadata only, the service keeps the content.
        History changed = a;
        changed.setFileName("renamed");
        changed.save();
        changed.markChanged();
        QVERIFY(pushPending());
        const QVariantMap updated = serviceCopy(older.file_hash());
        QCOMPARE(updated.value("file_name").toString(), QString("renamed"));
        QCOMPARE(decrypted(updated), older.content());
        QCOMPARE(stored(older.file_hash()).change_timestamp(), 0.0);
    }

    void confidentialEntriesStay()
    {
        const History secret = captureText("password=hunter2");
        update("secert = 1", secret);
        QVERIFY(pushPending());
        QCOMPARE(stored(secret.file_hash()).history_id(), 0);
        QVERIFY(stored(secret.file_hash()).change_timestamp() > 0);
        QVERIFY(serviceCopy(secret.file_hash()).isEmpty());
    }

    void unknownEntryOnPutIsResetForANewUpload()
    {
        History lost = captureText("the service never saw this");
        lost.setHistoryId(987654);
        lost.setFileReady(true);
        lost.save();
        QVERIFY(pushPending());
        const History after = stored(lost.file_hash());
        QCOMPARE(after.history_id(), 0);
        QVERIFY(!after.file_ready());
        QCOMPARE(after.change_timestamp(), 0.0); // pushed as POST only after its next change
    }

    void entryChangedDuringItsPushIsPushedAgain()
    {
        const History entry = captureText("edited while in flight", 3000);
        QSignalSpy handOver(SyncHandOver::instance(), &SyncHandOver::fileTransferRequested);
        HistoryService::instance()->pushPending();
        QVERIFY(HistoryService::instance()->isBusy());
        // The user copies it again meanwhile: a newer time and a newer mark.
        update("timeStamp = 3500, change_timestamp = " + QString::number(qint64(entry.change_timestamp()) + 100), entry);
        QVERIFY(handOver.wait(30000));
        QCOMPARE(stored(entry.file_hash()).change_timestamp(), 0.0);
        // The second push (a PUT) carried the new time to the service.
        QCOMPARE(serviceCopy(entry.file_hash()).value("timestamp").toDouble(), 3500.0);
    }

    // Signed out, nothing is pushed and the marks stay.
    void noPushWithoutAToken()
    {
        const History a = captureText("kept a", 4000);
        const QString token = clipUtils::userToken();
        clipUtils::removeUserToken();
        HistoryService::instance()->pushPending();
        QVERIFY(!HistoryService::instance()->isBusy());
        QVERIFY(stored(a.file_hash()).change_timestamp() > 0);
        clipUtils::settings()->setValue("user_token", token);
    }

    void newFavouriteIsPostedThenUnmarkedElsewhere()
    {
        const qint64 now = clipUtils::currentTime();
        const History fav = favourite("favourite text", now);
        QCOMPARE(run(new CRequestGetFavourite).code(), 0);
        // history_id 0: the chain sent it as a push POST.
        QTRY_VERIFY_WITH_TIMEOUT(stored(fav.file_hash(), "favourite").history_id() > 0, 10000);
        QTRY_VERIFY(!FavouriteService::instance()->isBusy());

        // Equal mark from the service: nothing changes.
        History same = stored(fav.file_hash(), "favourite");
        QCOMPARE(send<CRequestSetFavourite>(same).code(), 0);
        QVERIFY(HistoryQueries::exists(fav.file_hash(), "favourite"));

        // An unmark 100 s later wins by absolute mark: the merge of the reply removes the
        // favourite row and zeroes the marks of the hash.
        same.setFavourite(-(now + 100));
        same.setCategory("history");
        QSqlQuery("update History set favourite = " + QString::number(now)).exec();
        QCOMPARE(send<CRequestSetFavourite>(same).code(), 0);
        QVERIFY(!HistoryQueries::exists(fav.file_hash(), "favourite"));
        QCOMPARE(stored(fav.file_hash()).favourite(), qint64(0));
    }

    // -4 drops the rows only of an entry that had been on the service and was deleted
    // there; an entry the service never received (-10) keeps its rows.
    void onlyADeletionOnTheServiceRemovesFavourites()
    {
        for (bool deleted : {false, true}) {
            History fav = favourite(deleted ? "favourite, deleted" : "favourite, never uploaded", clipUtils::currentTime());
            if (deleted) {
                QCOMPARE(send<CRequestPushPost>(fav).data.toInt(), 0);
                fav = stored(fav.file_hash(), "favourite");
                QVERIFY(fav.history_id() > 0);
                QCOMPARE(send<CRequestPushDel>(fav).code(), 0);
            }
            QCOMPARE(send<CRequestSetFavourite>(fav).data.toInt(), deleted ? -4 : -10);
            QCOMPARE(rows("where file_hash = '" + fav.file_hash() + "'"), deleted ? 0 : 2);
        }
    }

    // The service hands out one entry's file (valid under the key) for another: the
    // plain bytes do not hash to the entry, so nothing is stored.
    void anotherEntrysFileIsRefused()
    {
        const History a = pushedEntry("the first entry's text", "text_txt+enc");
        const History b = pushedEntry("the second entry's text", "text_txt+enc");
        FileService::instance()->transferNext();
        QTRY_VERIFY_WITH_TIMEOUT(stored(a.file_hash()).file_ready() && stored(b.file_hash()).file_ready(), 20000);
        QTRY_VERIFY(!FileService::instance()->isBusy());

        // The object store of the local service this build runs.
        const QString objects = ZORVEL_TEST_SERVICE_DATA "/objects/" + clipUtils::userId() + "/";
        const QString bObject = objects + QString::number(b.file_id());
        QVERIFY(QFile::remove(bObject));
        QVERIFY(QFile::copy(objects + QString::number(a.file_id()), bObject));
        QFile::remove(CFileManager::filesPath() + b.file_hash());
        QSqlQuery("update History set local_file_ok = 0 where file_hash = '" + b.file_hash() + "'").exec();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("holds other content than its hash"));
        FileService::instance()->transferNext();
        QTRY_VERIFY_WITH_TIMEOUT(!FileService::instance()->isBusy(), 20000);
        QVERIFY(!stored(b.file_hash()).local_file_ok());
        QVERIFY(!QFile::exists(CFileManager::filesPath() + b.file_hash()));
        HistoryQueries::removeByHash(b.file_hash());
    }

    void localFileIsMarkedWithoutTraffic()
    {
        const QByteArray bytes("already here");
        History h = pushedEntry(bytes, "text_txt+enc");
        QSqlQuery("update History set file_ready = 1, local_file_ok = 0").exec();
        FileService::instance()->transferNext();
        // Synchronous: no request went out.
        QVERIFY(stored(h.file_hash()).local_file_ok());
        QVERIFY(!FileService::instance()->isBusy());
    }

    // Refused uploads: one byte over the size limit, a file id the object store does not
    // know, and a token the service no longer knows (HTTP 401), which signs out.
    void refusedUploads()
    {
        QByteArray limit(5767168, 'a');
        limit[0] = 'b';
        const History atLimit = pushedEntry(limit, "file_bin");
        QVERIFY(uploaded(atLimit));
        History over = atLimit;
        over.setFileSize(5767169);
        QVERIFY(!uploaded(over));

        History unknown = pushedEntry("unknown to the object store", "text_txt+enc");
        unknown.setFileId(unknown.file_id() + 1000);
        QVERIFY(!uploaded(unknown));
        QCOMPARE(stored(unknown.file_hash()).history_id(), qint64(0));

        const History h = pushedEntry("signed out by 401", "text_txt+enc");
        clipUtils::settings()->setValue("user_token", QString(64, QLatin1Char('0')));
        QVERIFY(!uploaded(stored(h.file_hash())));
        QVERIFY(!clipUtils::hasUserToken());
    }
};

ZORVEL_TEST_MAIN(TestHistoryService)
#include "tst_HistoryService.moc"
