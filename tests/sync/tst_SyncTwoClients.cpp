// Two clients of one account, each with its own home and display, one service and
// one broker: what A copies, deletes, marks or clears reaches B through the
// notifications alone (B never pulls).
#include "support/TestMain.h"
#include "TwoDevices.h"

#include "net/CClearHistoryRequest.h"
#include "net/CRequestPushDel.h"
#include "net/CRequestSetFavourite.h"

#include <QImage>
#include <QtTest>

using namespace NetFixture;

class TestSyncTwoClients : public TwoDevices
{
    Q_OBJECT

    QJsonObject peerRow(const QString &hash, const QString &category = "history")
    {
        for (const QJsonValue &v : peerRows())
            if (v["file_hash"].toString() == hash && v["category"].toString() == category)
                return v.toObject();
        return QJsonObject();
    }
    QString peerClip() { return QJsonDocument::fromJson(ask("clip")).array().at(0).toString(); }

private Q_SLOTS:
    void initTestCase() { bringUp("1357"); }
    void cleanupTestCase() { tearDown(); }

    void copiesArriveWithIdenticalBytes()
    {
        const QString shortText = "short from A";
        const QString longText = "a longer text from A that is well over fifty-one characters, so B must download its file";
        const QString shortHash = copyText(shortText);
        QCOMPARE(shortHash, clipUtils::md5Hex(shortText.toUtf8()));
        QTRY_VERIFY_WITH_TIMEOUT(peerHasFile(shortHash), 20000);
        // auto_set_clipboard on B: the text is on B's clipboard and was not captured again.
        QTRY_COMPARE_WITH_TIMEOUT(peerClip(), shortText, 10000);
        QVERIFY(!peerRow(shortHash)["pending"].toBool(true));

        const QString longHash = copyText(longText);
        QTRY_VERIFY_WITH_TIMEOUT(peerHasFile(longHash), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(peerClip(), longText, 10000);
        QCOMPARE(peerRow(longHash)["local_file_ok"].toInt(), 1);

        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(QColor(200, 40, 90));
        const QString imageHash = captured([&] { QGuiApplication::clipboard()->setImage(image); });
        QVERIFY(stored(imageHash).type().startsWith("image"));
        QTRY_VERIFY_WITH_TIMEOUT(peerHasFile(imageHash), 20000);

        const QString fileHash = copyFile(QDir::homePath() + "/notes.bin", QByteArray(3000, '\x07') + "tail");
        QVERIFY(stored(fileHash).type().startsWith("file_"));
        QTRY_VERIFY_WITH_TIMEOUT(peerHasFile(fileHash), 20000);
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
        QVERIFY(peerRow(keep, "favourite")["favourite"].toVariant().toLongLong() > 0);

        const QString shortText = clipUtils::md5Hex("short from A");
        QVERIFY(!peerRow(shortText).isEmpty());
        // Rows are stamped in whole seconds and a clear removes what is older than its
        // own second: B's last touch of the row must lie in an earlier second.
        QTRY_VERIFY_WITH_TIMEOUT(peerRow(shortText)["timestamp"].toVariant().toLongLong() < clipUtils::currentTime(), 5000);
        QCOMPARE(run(new CClearHistoryRequest).code(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(peerRow(shortText).isEmpty(), 10000);
        QVERIFY(!peerRow(keep, "favourite").isEmpty());
    }
};

ZORVEL_TEST_MAIN(TestSyncTwoClients)
#include "tst_SyncTwoClients.moc"
