// Push requests and the history service against the local service.
#include "support/TestMain.h"
#include "NetFixture.h"

#include "net/CPullRequest.h"
#include "net/CRequestPushDel.h"
#include "net/CRequestPushGet.h"
#include "net/CRequestPushPost.h"
#include "net/CRequestPushPut.h"
#include "net/HistoryService.h"
#include "net/SyncHandOver.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace NetFixture;

namespace {

QVariantMap pushedItem(CRequestPush &request)
{
    request.buildBody();
    return QJsonDocument::fromJson(request.body()).object().value(QStringLiteral("history")).toObject().toVariantMap();
}

// The service's copy of an entry, looked up by its hash.
QVariantMap serviceCopy(const QString &fileHash)
{
    History probe;
    probe.setFileHash(fileHash);
    auto *get = new CRequestPushGet;
    get->setHistory(probe);
    const Outcome out = run(get);
    return out.code() == 0 ? out.map().value(QStringLiteral("history")).toMap() : QVariantMap();
}

void setMark(const History &h, qint64 mark)
{
    QSqlQuery q;
    q.prepare(QStringLiteral("update History set change_timestamp = ? where file_hash = ?"));
    q.addBindValue(mark);
    q.addBindValue(h.file_hash());
    q.exec();
}

} // namespace

class TestHistoryService : public QObject
{
    Q_OBJECT

    HistoryService *service = nullptr;

    // Runs the chain from one pushPending() call to the file-service hand-over.
    bool drain(int timeoutMs = 30000)
    {
        QSignalSpy handOver(SyncHandOver::instance(), &SyncHandOver::fileTransferRequested);
        service->pushPending();
        return handOver.count() > 0 || handOver.wait(timeoutMs);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(DBFetcher::instance()->isOpen());
        service = HistoryService::instance();
        const QString email = uniqueEmail();
        QCOMPARE(signUp(email, QStringLiteral("secret")).code(), 0);
        createKey();
    }

    void init() { wipeStore(); }

    void postBodyEncryptsEncTypes()
    {
        ZeroManager *zero = ZeroManager::instance();
        History h = captureText(QStringLiteral("copied text"));
        h.setKeyHash(QStringLiteral("stale"));
        CRequestPushPost post;
        post.setHistory(h);
        QVariantMap item = pushedItem(post);
        QVERIFY(item.value(QStringLiteral("content")).toString() != h.content());
        QCOMPARE(zero->decryptText(item.value(QStringLiteral("content")).toString()), h.content());
        QCOMPARE(item.value(QStringLiteral("key_hash")).toString(), zero->keyHash());
        QCOMPARE(item.value(QStringLiteral("file_hash")).toString(), h.file_hash());
        QVERIFY(!item.contains(QStringLiteral("history_id")));

        h.setType(QStringLiteral("text_txt"));
        h.setKeyHash(QString());
        post.setHistory(h);
        item = pushedItem(post);
        QCOMPARE(item.value(QStringLiteral("content")).toString(), h.content());
        QVERIFY(!item.contains(QStringLiteral("key_hash")));

        CRequestPushPut put;
        put.setHistory(h);
        item = pushedItem(put);
        QVERIFY(!item.contains(QStringLiteral("content")));
        QCOMPARE(item.value(QStringLiteral("file_hash")).toString(), h.file_hash());

        post.setHistory(History());
        post.buildBody();
        QVERIFY(post.body().isEmpty());
    }

    void chainPushesNewestFirstThenHandsOver()
    {
        const History older = captureText(QStringLiteral("older entry"), 1000);
        const History newer = captureText(QStringLiteral("newer entry"), 2000);
        QVERIFY(drain());
        QVERIFY(!service->isBusy());
        const History a = stored(older.file_hash());
        const History b = stored(newer.file_hash());
        QVERIFY(a.history_id() > 0);
        QVERIFY(b.history_id() > 0);
        QVERIFY(b.history_id() < a.history_id()); // the newer one went first
        QCOMPARE(a.change_timestamp(), 0.0);
        QCOMPARE(b.change_timestamp(), 0.0);
        QVERIFY(b.file_id() > 0);
        QCOMPARE(b.key_hash(), ZeroManager::instance()->keyHash());

        const QVariantMap copy = serviceCopy(newer.file_hash());
        QCOMPARE(ZeroManager::instance()->decryptText(copy.value(QStringLiteral("content")).toString()), newer.content());
        QCOMPARE(copy.value(QStringLiteral("history_id")).toLongLong(), b.history_id());

        // A second change goes as PUT: metadata only, the service keeps the content.
        History changed = stored(older.file_hash());
        changed.setFileName(QStringLiteral("renamed"));
        changed.save();
        changed.markChanged();
        QVERIFY(drain());
        const QVariantMap updated = serviceCopy(older.file_hash());
        QCOMPARE(updated.value(QStringLiteral("file_name")).toString(), QStringLiteral("renamed"));
        QCOMPARE(ZeroManager::instance()->decryptText(updated.value(QStringLiteral("content")).toString()),
                 older.content());
        QCOMPARE(stored(older.file_hash()).change_timestamp(), 0.0);
    }

    void confidentialAndOversizedEntriesStay()
    {
        History secret = captureText(QStringLiteral("password=hunter2"));
        QSqlQuery(QStringLiteral("update History set secert = 1 where file_hash = '%1'").arg(secret.file_hash())).exec();
        History big = captureText(QStringLiteral("big"));
        QSqlQuery(QStringLiteral("update History set file_size = 5767169 where file_hash = '%1'").arg(big.file_hash())).exec();
        QVERIFY(drain());
        QCOMPARE(stored(secret.file_hash()).history_id(), 0);
        QVERIFY(stored(secret.file_hash()).change_timestamp() > 0);
        QCOMPARE(stored(big.file_hash()).history_id(), 0);
        QVERIFY(serviceCopy(secret.file_hash()).isEmpty());
    }

    void unknownEntryOnPutIsResetForANewUpload()
    {
        History lost = captureText(QStringLiteral("the service never saw this"));
        lost.setHistoryId(987654);
        lost.setFileReady(true);
        lost.save();
        QVERIFY(drain());
        const History after = stored(lost.file_hash());
        QCOMPARE(after.history_id(), 0);
        QVERIFY(!after.file_ready());
        QCOMPARE(after.change_timestamp(), 0.0); // pushed as POST only after its next change
        QVERIFY(serviceCopy(lost.file_hash()).isEmpty());
    }

    void entryChangedDuringItsPushIsPushedAgain()
    {
        const History entry = captureText(QStringLiteral("edited while in flight"), 3000);
        QSignalSpy handOver(SyncHandOver::instance(), &SyncHandOver::fileTransferRequested);
        service->pushPending();
        QVERIFY(service->isBusy());
        // The user copies it again meanwhile: a newer time and a newer mark.
        QSqlQuery(QStringLiteral("update History set timeStamp = 3500 where file_hash = '%1'").arg(entry.file_hash())).exec();
        setMark(entry, static_cast<qint64>(entry.change_timestamp()) + 100);
        QVERIFY(handOver.wait(30000));
        const History after = stored(entry.file_hash());
        QCOMPARE(after.change_timestamp(), 0.0);
        // The second push (a PUT) carried the new time to the service.
        QCOMPARE(serviceCopy(entry.file_hash()).value(QStringLiteral("timestamp")).toDouble(), 3500.0);
    }

    void entryDeletedDuringItsPushStaysGone()
    {
        const History entry = captureText(QStringLiteral("deleted while in flight"), 3000);
        QSignalSpy handOver(SyncHandOver::instance(), &SyncHandOver::fileTransferRequested);
        service->pushPending();
        QVERIFY(service->isBusy());
        QSqlQuery(QStringLiteral("delete from History where file_hash = '%1'").arg(entry.file_hash())).exec();
        QVERIFY(handOver.wait(30000));
        QVERIFY(!stored(entry.file_hash()).exists());
        QCOMPARE(rows(), 0);
    }

    void failureStopsTheChainAndKeepsTheMarks()
    {
        const History a = captureText(QStringLiteral("kept a"), 4000);
        const History b = captureText(QStringLiteral("kept b"), 4001);
        ZeroManager::instance()->clearAllKeys();
        QSignalSpy handOver(SyncHandOver::instance(), &SyncHandOver::fileTransferRequested);
        service->pushPending(); // refused without a key, synchronously
        QVERIFY(!service->isBusy());
        QCOMPARE(handOver.count(), 0);
        QVERIFY(stored(a.file_hash()).change_timestamp() > 0);
        QVERIFY(stored(b.file_hash()).change_timestamp() > 0);
        createKey();

        const QString token = clipUtils::userToken();
        clipUtils::removeUserToken();
        service->pushPending();
        QVERIFY(!service->isBusy());
        QCOMPARE(handOver.count(), 0);
        clipUtils::settings()->setValue(QStringLiteral("user_token"), token);
        QVERIFY(drain());
        QVERIFY(stored(a.file_hash()).history_id() > 0);
    }

    void deleteAndGet()
    {
        const History entry = captureText(QStringLiteral("to be deleted"));
        QVERIFY(drain());
        const History pushed = stored(entry.file_hash());
        auto *del = new CRequestPushDel;
        del->setHistory(pushed);
        del->buildUrl();
        QVERIFY(del->url().endsWith(QLatin1String("&history_id=") + QString::number(pushed.history_id())));
        QCOMPARE(run(del).code(), 0);
        QVERIFY(serviceCopy(entry.file_hash()).isEmpty());

        // A pull now reports the deletion and the local row goes.
        QCOMPARE(run(new CPullRequest).data.toInt(), 0);
        QVERIFY(!stored(entry.file_hash()).exists());
    }
};

ZORVEL_TEST_MAIN(TestHistoryService)
#include "tst_HistoryService.moc"
