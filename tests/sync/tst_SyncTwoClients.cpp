// Two clients of one account, each with its own home and display, one service and
// one broker: what A copies, deletes, marks or clears reaches B through the
// notifications alone (B never pulls). Then the service goes away under a running
// sync, stopped during a push chain or killed in the middle of a file upload: nothing
// may be lost once it is back. The test stops and restarts the build's
// own service (it runs alone).
#include "support/TestMain.h"
#include "SyncPeer.h"

#include "app/CFileManager.h"
#include "capture/Selvane.h"
#include "net/CClearHistoryRequest.h"
#include "net/CRequestPushDel.h"
#include "net/CRequestSetFavourite.h"
#include "net/FileService.h"
#include "net/HistoryService.h"

#include <QSqlRecord>

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

bool pending(const QString &hash) { return stored(hash).change_timestamp() > 0; }

// Waits until this device stored the entry; its hash, or empty text.
QString captured(const QString &hash)
{
    return QTest::qWaitFor([&] { return !stored(hash).isEmpty(); }, 10000) ? hash : QString();
}

QString copyText(const QString &text)
{
    Selvane::putText(text);
    return captured(clipUtils::md5Hex(text.toUtf8()));
}

// Copies the file at path as a file list, as a file manager does.
QString copyFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    file.close();
    auto *data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(path)});
    QGuiApplication::clipboard()->setMimeData(data);
    return captured(clipUtils::md5Hex(bytes));
}

} // namespace

class TestSyncTwoClients : public QObject
{
    Q_OBJECT

    const QString email = uniqueEmail();
    const QString password = "two devices";
    const QString salt = QUuid::createUuid().toString(QUuid::Id128).left(8);
    QTemporaryDir peerHome;
    QProcess peer;
    QSqlDatabase peerStore; // B's database, read beside B

    QByteArray ask(const QByteArray &command) { return SyncPeer::ask(peer, command); }
    QSqlRecord peerRow(const QString &hash, const QString &category = "history")
    {
        QSqlQuery q(peerStore);
        q.prepare("select * from History where file_hash = ? and category = ?");
        q.addBindValue(hash);
        q.addBindValue(category);
        return q.exec() && q.next() ? q.record() : QSqlRecord();
    }
    QString peerFile(const QString &hash) { return peerHome.path() + "/Documents/ZClipboard/Library/files/" + hash; }
    QString peerClip() { return QString::fromUtf8(ask("clip")); }
    // B holds the file of the entry, byte for byte.
    bool peerHasFile(const QString &hash)
    {
        const QString local = clipUtils::fileMd5(CFileManager::entryPath(CFileManager::filesPath(), hash));
        return !local.isEmpty() && clipUtils::fileMd5(peerFile(hash)) == local;
    }
    QString copySalted(const QString &text) { return copyText(text + ' ' + salt); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(service("start"));
        QVERIFY(DBFetcher::instance()->isOpen());
        QCOMPARE(signUp(email, password).code(), 0);
        QCOMPARE(signIn(email, password).code(), 0); // as the user does after signing up
        const QString pin = "1357";
        const QString keyFile = SyncPeer::writeKeyFile(createKey(pin));
        QVERIFY(!keyFile.isEmpty());
        clipUtils::setFileAsSecret(false); // copied files are confidential unless the user says otherwise
        Wiring::startCore(*QCoreApplication::instance());
        QVERIFY(SyncPeer::start(peer, peerHome.path(), {ZORVEL_SYNC_PEER, email, password, keyFile, pin}));
        peerStore = QSqlDatabase::addDatabase("QSQLITE", "peer");
        peerStore.setDatabaseName(peerHome.path() + "/Documents/ZClipboard/clipboard.db");
        peerStore.setConnectOptions("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000");
        QVERIFY(peerStore.open());
    }
    void cleanup() { QVERIFY(service("start")); } // whatever a test left behind, the service is up for the next
    void cleanupTestCase()
    {
        peer.closeWriteChannel();
        if (!peer.waitForFinished(10000))
            peer.kill();
        Selvane::instance()->stop();
    }

    void copiesArriveWithIdenticalBytes()
    {
        const QString shortText = "short from A";
        const QString longText = "a longer text from A that is well over fifty-one characters, so B must download its file";
        const QString shortHash = copyText(shortText);
        QTRY_VERIFY_WITH_TIMEOUT(peerHasFile(shortHash), 20000);
        // auto_set_clipboard on B: the text is on B's clipboard and was not captured again.
        QTRY_COMPARE_WITH_TIMEOUT(peerClip(), shortText, 10000);
        QCOMPARE(peerRow(shortHash).value("change_timestamp").toInt(), 0);

        const QString longHash = copyText(longText);
        QTRY_VERIFY_WITH_TIMEOUT(peerHasFile(longHash), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(peerClip(), longText, 10000);
        QCOMPARE(peerRow(longHash).value("local_file_ok").toInt(), 1);

        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(QColor(200, 40, 90));
        QGuiApplication::clipboard()->setImage(image);
        const QString imageHash = captured(clipUtils::md5Hex(clipUtils::imageToTiff(image)));
        QVERIFY(stored(imageHash).type().startsWith("image"));
        QTRY_VERIFY_WITH_TIMEOUT(peerHasFile(imageHash), 20000);
    }

    void deleteFavouriteAndClearFollow()
    {
        const QString keep = copyText("kept as favourite");
        const QString gone = copyText("deleted on A");
        QTRY_VERIFY_WITH_TIMEOUT(!peerRow(gone).isEmpty() && !peerRow(keep).isEmpty(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(stored(gone).history_id() > 0, 10000);

        auto *del = new CRequestPushDel;
        del->setHistory(stored(gone));
        QCOMPARE(run(del).code(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(peerRow(gone).isEmpty(), 10000);

        History favourite = stored(keep);
        favourite.setFavourite(clipUtils::currentTime());
        auto *mark = new CRequestSetFavourite;
        mark->setHistory(favourite);
        QCOMPARE(run(mark).code(), 0);
        QCOMPARE(ask("favsync"), QByteArray("done"));
        QVERIFY(peerRow(keep, "favourite").value("favourite").toLongLong() > 0);

        const QString cleared = copySalted("cleared on B");
        QTRY_VERIFY_WITH_TIMEOUT(!peerRow(cleared).isEmpty(), 20000);
        // Rows are stamped in whole seconds and a clear removes what is older than its
        // own second: B's last touch of the row must lie in an earlier second.
        QTRY_VERIFY_WITH_TIMEOUT(peerRow(cleared).value("timeStamp").toLongLong() < clipUtils::currentTime(), 5000);
        QCOMPARE(run(new CClearHistoryRequest).code(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(peerRow(cleared).isEmpty(), 10000);
        QVERIFY(!peerRow(keep, "favourite").isEmpty());
    }

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

        // The chain gives up; what did not reach the service keeps its mark (a mark lost
        // early would leave its entry off the service after the restart).
        QTRY_VERIFY_WITH_TIMEOUT(!HistoryService::instance()->isBusy(), 30000);
        for (const QString &hash : late)
            QVERIFY2(pending(hash), qPrintable(hash));

        QVERIFY(service("start"));
        // Each reaches the service, and the other device too.
        for (const QString &hash : early + late + QStringList{copySalted("after the restart")}) {
            QTRY_VERIFY2_WITH_TIMEOUT(!pending(hash), qPrintable(hash), 30000);
            QVERIFY2(!serviceCopy(hash).isEmpty(), qPrintable(hash));
            QTRY_VERIFY2_WITH_TIMEOUT(!peerRow(hash).isEmpty(), qPrintable(hash), 20000);
        }
    }

    void serviceKilledMidUpload()
    {
        QByteArray bytes(5 * 1000 * 1000, Qt::Uninitialized);
        QRandomGenerator(42).fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
        bytes.prepend(salt.toLatin1());
        const QString expected = clipUtils::md5Hex(bytes);
        qint64 sentAtKill = -1;
        qint64 totalAtKill = 0;
        const QMetaObject::Connection watch = connect(
            FileService::instance(), &FileService::uploadProgress, this, [&](const QString &hash, qint64 sent, qint64 total) {
                if (sentAtKill >= 0 || sent <= 0 || total <= 0 || hash != expected)
                    return;
                sentAtKill = sent;
                totalAtKill = total;
                ::kill(pid_t(servicePid()), SIGKILL);
            });
        const QString hash = copyFile(QDir::homePath() + "/large.bin", bytes);
        QVERIFY(stored(hash).type().startsWith("file_"));
        QTRY_VERIFY_WITH_TIMEOUT(sentAtKill >= 0, 30000);
        disconnect(watch);
        qInfo("service killed after %lld of %lld bytes of the upload", sentAtKill, totalAtKill);
        QVERIFY(sentAtKill < totalAtKill);

        // The transfer failed: the entry still waits for its upload.
        QTRY_VERIFY_WITH_TIMEOUT(!FileService::instance()->isBusy(), 30000);
        QVERIFY(!stored(hash).file_ready());
        QVERIFY(!QFile::exists(peerFile(hash)));

        QVERIFY(service("start"));
        QVERIFY(!copySalted("the next capture").isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(peerHasFile(hash), 60000);
        QVERIFY(stored(hash).file_ready());
        QVERIFY(!serviceCopy(hash).isEmpty());
    }
};

ZORVEL_TEST_MAIN(TestSyncTwoClients)
#include "tst_SyncTwoClients.moc"
