// Two clients of one account, each in its own home: what one pushes, the other's
// pull stores, in both directions.
#include "support/TestMain.h"
#include "NetFixture.h"

#include "app/CFileManager.h"
#include "net/CPullRequest.h"
#include "net/HistoryService.h"
#include "net/SyncHandOver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
        QCOMPARE(CFileManager::readFile(got.file_hash()), fromB.toUtf8());
        QCOMPARE(got.change_timestamp(), 0.0); // nothing to push back
    }
};

ZORVEL_TEST_MAIN(TestTwoClients)
#include "tst_TwoClients.moc"
