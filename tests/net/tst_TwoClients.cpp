// Two clients of one account, each in its own home: what one pushes, the other's
// pull stores, in both directions.
#include "support/TestMain.h"
#include "NetFixture.h"

#include "app/CFileManager.h"
#include "net/CPullRequest.h"
#include "net/CRequestPushPost.h"
#include "net/HistoryService.h"
#include "net/SyncHandOver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace NetFixture;

class TestTwoClients : public QObject
{
    Q_OBJECT

    QString email;
    const QString password = QStringLiteral("two devices");
    const QString pin = QStringLiteral("2468");
    QString keyFile;

    // Runs the second client in a fresh home; returns its rows.
    QJsonArray peer(const QString &mode, const QString &text = QString())
    {
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=false"));
        QProcess p;
        p.setProcessEnvironment(env);
        QStringList args{mode, email, password, keyFile, pin};
        if (!text.isEmpty())
            args << text;
        p.start(QStringLiteral(ZORVEL_NET_PEER), args);
        if (!p.waitForFinished(60000) || p.exitCode() != 0) {
            qWarning("peer failed (%d): %s", p.exitCode(), p.readAllStandardError().constData());
            return QJsonArray();
        }
        return QJsonDocument::fromJson(p.readAllStandardOutput()).array();
    }

    static QJsonObject row(const QJsonArray &rows, const QString &hash)
    {
        for (const QJsonValue &v : rows)
            if (v.toObject().value(QStringLiteral("file_hash")).toString() == hash)
                return v.toObject();
        return QJsonObject();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(DBFetcher::instance()->isOpen());
        email = uniqueEmail();
        QCOMPARE(signUp(email, password).code(), 0);
        const QVariantMap dictionary = createKey(pin);
        QVERIFY(!dictionary.isEmpty());
        keyFile = QDir::homePath() + QStringLiteral("/key.json");
        QFile f(keyFile);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QJsonDocument(QJsonObject::fromVariantMap(dictionary)).toJson());
    }

    void whatOnePushesTheOtherPulls()
    {
        const History text = captureText(QStringLiteral("从 A 复制的文字"));
        const History second = captureText(QStringLiteral("second entry from A"));
        QSignalSpy handOver(SyncHandOver::instance(), &SyncHandOver::fileTransferRequested);
        HistoryService::instance()->pushPending();
        QVERIFY(handOver.count() > 0 || handOver.wait(30000));

        const QJsonArray onB = peer(QStringLiteral("pull"));
        QCOMPARE(onB.size(), 2);
        for (const History &h : {text, second}) {
            const QJsonObject got = row(onB, h.file_hash());
            QCOMPARE(got.value(QStringLiteral("content")).toString(), h.content());
            QCOMPARE(got.value(QStringLiteral("file")).toString(), h.content());
            QVERIFY(got.value(QStringLiteral("local_file_ok")).toBool());
            QCOMPARE(got.value(QStringLiteral("history_id")).toVariant().toLongLong(), stored(h.file_hash()).history_id());
            QVERIFY(!got.value(QStringLiteral("pending")).toBool());
        }
    }

    void andTheOtherWayRound()
    {
        const QString fromB = QStringLiteral("typed on B");
        const QJsonArray onB = peer(QStringLiteral("push"), fromB);
        const QString hash = clipUtils::md5Hex(fromB.toUtf8());
        QVERIFY(!row(onB, hash).value(QStringLiteral("pending")).toBool(true));

        QCOMPARE(run(new CPullRequest).data.toInt(), 0);
        const History got = stored(hash);
        QCOMPARE(got.content(), fromB);
        QVERIFY(got.local_file_ok());
        QCOMPARE(CFileManager::readFile(got), fromB.toUtf8());
        QCOMPARE(got.change_timestamp(), 0.0); // nothing to push back
    }

    // 600 entries on the account: a device that has none gets every page in one
    // sync and keeps the newest 60, not the last 60 of the first page.
    void freshDeviceFirstSyncDrainsEveryPage()
    {
        const QString email600 = uniqueEmail();
        QCOMPARE(signUp(email600, password).code(), 0);
        createKey(pin);
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

ZORVEL_TEST_MAIN(TestTwoClients)
#include "tst_TwoClients.moc"
