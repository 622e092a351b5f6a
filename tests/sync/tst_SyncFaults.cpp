// The service going away under a running sync: stopped during a push chain, or
// killed in the middle of a file upload. Nothing may be lost or sent twice once it
// is back. The test stops and restarts the build's own service (it runs alone).
#include "support/TestMain.h"
#include "TwoDevices.h"

#include "net/FileService.h"
#include "net/HistoryService.h"

#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QtTest>

#include <csignal>

using namespace NetFixture;

namespace {

bool service(const char *action)
{
    return QProcess::execute(ZORVEL_SERVICE_SCRIPT, {action, ZORVEL_BUILD_DIR}) == 0;
}

qint64 servicePid()
{
    QFile f(ZORVEL_BUILD_DIR "/zorvel-service.pid");
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toLongLong() : 0;
}

// How many entries the service holds for the hash (across all users: hashes here
// are unique to this run).
int serviceEntries(const QString &hash)
{
    int count = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "service");
        db.setDatabaseName(ZORVEL_BUILD_DIR "/service-data/service.db");
        db.setConnectOptions("QSQLITE_OPEN_READONLY");
        QSqlQuery q(db);
        if (db.open() && q.exec("select count(*) from entries where file_hash = '" + hash + "'") && q.next())
            count = q.value(0).toInt();
    }
    QSqlDatabase::removeDatabase("service");
    return count;
}

bool pending(const QString &hash) { return stored(hash).change_timestamp() > 0; }

} // namespace

class TestSyncFaults : public TwoDevices
{
    Q_OBJECT

    const QString salt = QUuid::createUuid().toString(QUuid::Id128).left(8);

    QString copySalted(const QString &text) { return copyText(text + ' ' + salt); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(service("start"));
        bringUp("8642");
    }
    void cleanup() { QVERIFY(service("start")); } // whatever a test left behind, the service is up for the next
    void cleanupTestCase() { tearDown(); }

    void serviceStoppedDuringPushChain()
    {
        QStringList early;
        for (int i = 0; i < 3; ++i)
            early << copySalted(QString("before the stop %1").arg(i));
        QVERIFY(service("stop"));
        QStringList late;
        for (int i = 0; i < 2; ++i)
            late << copySalted(QString("while the service is down %1").arg(i));
        QVERIFY(!early.contains(QString()) && !late.contains(QString()));

        // The chain gives up; whatever did not reach the service keeps its mark.
        QTRY_VERIFY_WITH_TIMEOUT(!HistoryService::instance()->isBusy(), 30000);
        for (const QString &hash : late)
            QVERIFY2(pending(hash), qPrintable(hash));
        for (const QString &hash : early)
            QVERIFY2(pending(hash) || serviceEntries(hash) == 1, qPrintable(hash));

        QVERIFY(service("start"));
        const QStringList all = early + late + QStringList{copySalted("after the restart")};
        for (const QString &hash : all)
            QTRY_VERIFY2_WITH_TIMEOUT(!pending(hash), qPrintable(hash), 30000);
        for (const QString &hash : all)
            QCOMPARE(serviceEntries(hash), 1);
        // The other device got every one of them too.
        QTRY_VERIFY_WITH_TIMEOUT(peerRows().size() >= all.size(), 20000);
    }

    void serviceKilledMidUpload()
    {
        QByteArray bytes(5 * 1000 * 1000, Qt::Uninitialized);
        QRandomGenerator(42).fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
        qint64 sentAtKill = -1;
        qint64 totalAtKill = 0;
        QString killedDuring;
        const QSet<QString> known = historyHashes();
        const QMetaObject::Connection watch = connect(
            FileService::instance(), &FileService::uploadProgress, this, [&](const QString &hash, qint64 sent, qint64 total) {
                if (sentAtKill >= 0 || sent <= 0 || total <= 0 || known.contains(hash))
                    return;
                killedDuring = hash;
                sentAtKill = sent;
                totalAtKill = total;
                ::kill(pid_t(servicePid()), SIGKILL);
            });
        const QString hash = copyFile(QDir::homePath() + "/large.bin", salt.toLatin1() + bytes);
        QVERIFY(stored(hash).type().startsWith("file_"));
        QTRY_VERIFY_WITH_TIMEOUT(sentAtKill >= 0, 30000);
        QCOMPARE(killedDuring, hash);
        disconnect(watch);
        qInfo("service killed after %lld of %lld bytes of the upload", sentAtKill, totalAtKill);
        QVERIFY(sentAtKill < totalAtKill);

        // The transfer failed: the entry still waits for its upload.
        QTRY_VERIFY_WITH_TIMEOUT(!FileService::instance()->isBusy(), 30000);
        QVERIFY(!stored(hash).file_ready());
        QCOMPARE(ask("file " + hash.toLatin1()), QByteArray("none"));

        QVERIFY(service("start"));
        QVERIFY(!copySalted("the next capture").isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(peerHasFile(hash), 60000);
        QVERIFY(stored(hash).file_ready());
        QCOMPARE(serviceEntries(hash), 1);
    }
};

ZORVEL_TEST_MAIN(TestSyncFaults)
#include "tst_SyncFaults.moc"
