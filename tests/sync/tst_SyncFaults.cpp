// The service going away under a running sync: stopped during a push chain, or
// killed in the middle of a file upload. Nothing may be lost or sent twice once it
// is back. The test stops and restarts the build's own service (it runs alone).
#include "support/TestMain.h"
#include "SyncPeer.h"
#include "net/NetFixture.h"

#include "app/CFileManager.h"
#include "capture/Selvane.h"
#include "net/FileService.h"
#include "net/HistoryService.h"
#include "app/Wiring.h"
#include "push/MqttManager.h"
#include "store/HistoryQueries.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QMimeData>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <csignal>

using namespace NetFixture;

namespace {

const QString kServiceDb = QStringLiteral(ZORVEL_BUILD_DIR "/service-data/service.db");

bool service(const char *action)
{
    return QProcess::execute(QStringLiteral(ZORVEL_SERVICE_SCRIPT),
                             {QString::fromLatin1(action), QStringLiteral(ZORVEL_BUILD_DIR)})
        == 0;
}

qint64 servicePid()
{
    QFile f(QStringLiteral(ZORVEL_BUILD_DIR "/zorvel-service.pid"));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toLongLong() : 0;
}

// How many entries the service holds for the hash (across all users: hashes here
// are unique to this run).
int serviceEntries(const QString &hash)
{
    int count = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("service"));
        db.setDatabaseName(kServiceDb);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            q.prepare(QStringLiteral("select count(*) from entries where file_hash = ?"));
            q.addBindValue(hash);
            if (q.exec() && q.next())
                count = q.value(0).toInt();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("service"));
    return count;
}

} // namespace

class TestSyncFaults : public QObject
{
    Q_OBJECT

    QString email;
    const QString password = QStringLiteral("faulty service");
    const QString pin = QStringLiteral("8642");
    QTemporaryDir peerHome;
    QProcess peer;
    const QString salt = QUuid::createUuid().toString(QUuid::Id128).left(8);

    QByteArray ask(const QByteArray &command) { return SyncPeer::ask(peer, command); }

    QString captured(const std::function<void()> &copy) { return SyncPeer::capturedHash(copy); }

    QString copyText(const QString &text)
    {
        return captured([&] { Selvane::putText(text + QLatin1Char(' ') + salt); });
    }

    static bool pending(const QString &hash) { return stored(hash).change_timestamp() > 0; }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(service("start"));
        QVERIFY(DBFetcher::instance()->isOpen());
        email = uniqueEmail();
        QCOMPARE(signUp(email, password).code(), 0);
        QCOMPARE(signIn(email, password).code(), 0);
        const QString keyFile = SyncPeer::writeKeyFile(createKey(pin));
        QVERIFY(!keyFile.isEmpty());

        clipUtils::setFileAsSecret(false);
        Wiring::startCore(*QCoreApplication::instance()); // as the program starts

        QVERIFY(SyncPeer::start(peer, peerHome.path(), {QStringLiteral(ZORVEL_SYNC_PEER), email, password, keyFile, pin}));
    }

    void cleanup()
    {
        // Whatever a test left behind, the service is up for the next one.
        QVERIFY(service("start"));
    }

    void cleanupTestCase()
    {
        peer.closeWriteChannel();
        if (!peer.waitForFinished(10000))
            peer.kill();
        Selvane::instance()->stop();
    }

    void serviceStoppedDuringPushChain()
    {
        QStringList early;
        for (int i = 0; i < 3; ++i)
            early << copyText(QStringLiteral("before the stop %1").arg(i));
        QVERIFY(service("stop"));
        QStringList late;
        for (int i = 0; i < 2; ++i)
            late << copyText(QStringLiteral("while the service is down %1").arg(i));
        QVERIFY(!early.contains(QString()) && !late.contains(QString()));

        // The chain gives up; whatever did not reach the service keeps its mark.
        QTRY_VERIFY_WITH_TIMEOUT(!HistoryService::instance()->isBusy(), 30000);
        for (const QString &hash : late)
            QVERIFY2(pending(hash), qPrintable(hash));
        for (const QString &hash : early)
            QVERIFY2(pending(hash) || serviceEntries(hash) == 1, qPrintable(hash));

        QVERIFY(service("start"));
        const QString resumed = copyText(QStringLiteral("after the restart"));
        const QStringList all = early + late + QStringList{resumed};
        for (const QString &hash : all)
            QTRY_VERIFY2_WITH_TIMEOUT(!pending(hash), qPrintable(hash), 30000);
        for (const QString &hash : all)
            QCOMPARE(serviceEntries(hash), 1);
        // The other device got every one of them too.
        QTRY_VERIFY_WITH_TIMEOUT(QJsonDocument::fromJson(ask("rows")).array().size() >= all.size(), 20000);
    }

    void serviceKilledMidUpload()
    {
        const QString path = QDir::homePath() + QStringLiteral("/large.bin");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray bytes(5 * 1000 * 1000, Qt::Uninitialized);
        QRandomGenerator(42).fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
        file.write(salt.toLatin1() + bytes);
        file.close();

        qint64 sentAtKill = -1;
        qint64 totalAtKill = 0;
        QString killedDuring;
        const QSet<QString> known = SyncPeer::historyHashes();
        const QMetaObject::Connection watch = connect(
            FileService::instance(), &FileService::uploadProgress, this,
            [&](const QString &hash, qint64 sent, qint64 total) {
                if (sentAtKill >= 0 || sent <= 0 || total <= 0 || known.contains(hash))
                    return;
                killedDuring = hash;
                sentAtKill = sent;
                totalAtKill = total;
                ::kill(pid_t(servicePid()), SIGKILL);
            });
        const QString hash = captured([&] {
            auto *data = new QMimeData;
            data->setUrls({QUrl::fromLocalFile(path)});
            QGuiApplication::clipboard()->setMimeData(data);
        });
        QVERIFY(stored(hash).type().startsWith(QLatin1String("file_")));
        QTRY_VERIFY_WITH_TIMEOUT(sentAtKill >= 0, 30000);
        QCOMPARE(killedDuring, hash);
        disconnect(watch);
        qInfo("service killed after %lld of %lld bytes of the upload", sentAtKill, totalAtKill);
        QVERIFY2(sentAtKill < totalAtKill, qPrintable(QStringLiteral("%1 of %2").arg(sentAtKill).arg(totalAtKill)));

        // The transfer failed: the entry still waits for its upload.
        QTRY_VERIFY_WITH_TIMEOUT(!FileService::instance()->isBusy(), 30000);
        QVERIFY(!stored(hash).file_ready());
        QCOMPARE(ask("file " + hash.toLatin1()), QByteArray("none"));

        QVERIFY(service("start"));
        QVERIFY(!copyText(QStringLiteral("the next capture")).isEmpty());
        const QByteArray local = clipUtils::fileMd5(CFileManager::entryPath(CFileManager::filesPath(), hash)).toLatin1();
        QVERIFY(!local.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(ask("file " + hash.toLatin1()), local, 60000);
        QVERIFY(stored(hash).file_ready());
        QCOMPARE(serviceEntries(hash), 1);
    }
};

ZORVEL_TEST_MAIN(TestSyncFaults)
#include "tst_SyncFaults.moc"
