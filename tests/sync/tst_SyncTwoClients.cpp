// Two clients of one account, each with its own home and display, one service and
// one broker: what A copies, deletes, marks or clears reaches B through the
// notifications alone (B never pulls).
#include "support/TestMain.h"
#include "SyncPeer.h"
#include "net/NetFixture.h"

#include "app/CFileManager.h"
#include "capture/Selvane.h"
#include "net/CClearHistoryRequest.h"
#include "net/CRequestPushDel.h"
#include "net/CRequestSetFavourite.h"
#include "net/FileService.h"
#include "net/HistoryService.h"
#include "app/Wiring.h"
#include "push/MqttManager.h"
#include "store/HistoryQueries.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

using namespace NetFixture;

class TestSyncTwoClients : public QObject
{
    Q_OBJECT

    QString email;
    const QString password = QStringLiteral("two devices");
    const QString pin = QStringLiteral("1357");
    QTemporaryDir peerHome;
    QProcess peer;

    QByteArray ask(const QByteArray &command) { return SyncPeer::ask(peer, command); }

    QJsonObject peerRow(const QString &hash, const QString &category = QStringLiteral("history"))
    {
        for (const QJsonValue &v : QJsonDocument::fromJson(ask("rows")).array()) {
            const QJsonObject row = v.toObject();
            if (row.value(QStringLiteral("file_hash")).toString() == hash
                && row.value(QStringLiteral("category")).toString() == category)
                return row;
        }
        return QJsonObject();
    }

    bool peerHasFile(const QString &hash)
    {
        const QString local = clipUtils::fileMd5(CFileManager::entryPath(CFileManager::filesPath(), hash));
        return !local.isEmpty() && ask("file " + hash.toLatin1()) == local.toLatin1();
    }

    QString captured(const std::function<void()> &copy) { return SyncPeer::capturedHash(copy); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(DBFetcher::instance()->isOpen());
        email = uniqueEmail();
        QCOMPARE(signUp(email, password).code(), 0);
        QCOMPARE(signIn(email, password).code(), 0);
        const QVariantMap dictionary = createKey(pin);
        const QString keyFile = SyncPeer::writeKeyFile(dictionary);
        QVERIFY(!keyFile.isEmpty());

        // Copied files are confidential (never uploaded) unless the user says otherwise.
        clipUtils::setFileAsSecret(false);
        Wiring::startCore(*QCoreApplication::instance()); // as the program starts

        QVERIFY(SyncPeer::start(peer, peerHome.path(), {QStringLiteral(ZORVEL_SYNC_PEER), email, password, keyFile, pin}));
    }

    void cleanupTestCase()
    {
        peer.closeWriteChannel();
        if (!peer.waitForFinished(10000))
            peer.kill();
        Selvane::instance()->stop();
    }

    void copiesArriveWithIdenticalBytes()
    {
        const QString shortText = QStringLiteral("short from A");
        const QString longText = QStringLiteral("a longer text from A that is well over fifty-one characters, "
                                                "so B must download its file");
        const QString shortHash = captured([&] { Selvane::putText(shortText); });
        QCOMPARE(shortHash, clipUtils::md5Hex(shortText.toUtf8()));
        QTRY_VERIFY_WITH_TIMEOUT(peerHasFile(shortHash), 20000);
        // auto_set_clipboard on B: the text is on B's clipboard and was not captured again.
        QTRY_COMPARE_WITH_TIMEOUT(QJsonDocument::fromJson(ask("clip")).array().at(0).toString(), shortText, 10000);
        QVERIFY(!peerRow(shortHash).value(QStringLiteral("pending")).toBool(true));

        const QString longHash = captured([&] { Selvane::putText(longText); });
        QTRY_VERIFY_WITH_TIMEOUT(peerHasFile(longHash), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(QJsonDocument::fromJson(ask("clip")).array().at(0).toString(), longText, 10000);
        QCOMPARE(peerRow(longHash).value(QStringLiteral("local_file_ok")).toInt(), 1);

        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(QColor(200, 40, 90));
        const QString imageHash = captured([&] { QGuiApplication::clipboard()->setImage(image); });
        QVERIFY(!imageHash.isEmpty());
        QVERIFY(stored(imageHash).type().startsWith(QLatin1String("image")));
        QTRY_VERIFY_WITH_TIMEOUT(peerHasFile(imageHash), 20000);

        const QString path = QDir::homePath() + QStringLiteral("/notes.bin");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(3000, '\x07') + "tail");
        file.close();
        const QString fileHash = captured([&] {
            auto *data = new QMimeData;
            data->setUrls({QUrl::fromLocalFile(path)});
            QGuiApplication::clipboard()->setMimeData(data);
        });
        QVERIFY(stored(fileHash).type().startsWith(QLatin1String("file_")));
        QTRY_VERIFY_WITH_TIMEOUT(peerHasFile(fileHash), 20000);
    }

    void deleteFavouriteAndClearFollow()
    {
        const QString keep = captured([] { Selvane::putText(QStringLiteral("kept as favourite")); });
        const QString gone = captured([] { Selvane::putText(QStringLiteral("deleted on A")); });
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
        const Outcome marked = run(mark);
        QVERIFY2(marked.code() == 0, qPrintable(marked.data.toString()));
        QCOMPARE(ask("favsync"), QByteArray("done"));
        QVERIFY(peerRow(keep, QStringLiteral("favourite")).value(QStringLiteral("favourite")).toVariant().toLongLong()
                > 0);

        const QString shortText = clipUtils::md5Hex(QByteArrayLiteral("short from A"));
        QVERIFY(!peerRow(shortText).isEmpty());
        // Rows are stamped in whole seconds and a clear removes what is older than its
        // own second: B's last touch of the row must lie in an earlier second.
        QTRY_VERIFY_WITH_TIMEOUT(
            peerRow(shortText).value(QStringLiteral("timestamp")).toVariant().toLongLong() < clipUtils::currentTime(),
            5000);
        QCOMPARE(run(new CClearHistoryRequest).code(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(peerRow(shortText).isEmpty(), 10000);
        QVERIFY(!peerRow(keep, QStringLiteral("favourite")).isEmpty());
    }
};

ZORVEL_TEST_MAIN(TestSyncTwoClients)
#include "tst_SyncTwoClients.moc"
