// Notification messages through the real broker: what is handled, what is dropped,
// and the reconnect after a broker restart with the pull that catches up.
#include "support/TestMain.h"
#include "net/NetFixture.h"

#include "app/Constants.h"
#include "net/CPullRequest.h"
#include "net/CRequestPushDel.h"
#include "net/CRequestPushPost.h"
#include "push/MqttManager.h"
#include "store/HistoryQueries.h"
#include "support/TestBroker.h"

#include "net/CRegisterrequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

using namespace NetFixture;

// Test-only access to the broker host and the check period.
class MqttManagerTestHook
{
public:
    static void useBroker(MqttManager *m, const QString &host)
    {
        m->disconnectBroker();
        m->setConnectionState(MqttManager::Disconnected);
        m->createClient(host);
    }
    static void setCheckInterval(MqttManager *m, int ms) { m->m_timer->setInterval(ms); }
};

class TestMqttMessages : public QObject
{
    Q_OBJECT

    QString topic;

    struct Login {
        QString user;
        QString password;
        QString clientId; // empty: any
    };
    static Login service()
    {
        const TestBroker::Account account = TestBroker::serviceAccount();
        return {QString::fromStdString(account.user), QString::fromStdString(account.password), {}};
    }
    static QStringList options(const Login &login, const QString &host)
    {
        QStringList args{QStringLiteral("-h"), host, QStringLiteral("-p"), QString::number(TestBroker::port()),
                         QStringLiteral("-u"), login.user, QStringLiteral("-P"), login.password};
        if (!login.clientId.isEmpty())
            args << QStringLiteral("-i") << login.clientId;
        return args;
    }

    // As the service by default; mosquitto_pub does not report a refused publish, so
    // a forgery "succeeds" here and must be caught by its absence of effect.
    static bool publish(const QString &topicName, const QByteArray &payload, const QString &host = QStringLiteral("127.0.0.1"),
                        const Login &login = service())
    {
        QProcess p;
        p.start(QStringLiteral("mosquitto_pub"), options(login, host) << QStringLiteral("-t") << topicName << QStringLiteral("-s"));
        p.write(payload);
        p.closeWriteChannel();
        return p.waitForFinished(10000) && p.exitCode() == 0;
    }

    // A listener with `login` on `topics`, returned once the broker answered its
    // subscriptions (granted or not).
    static void listen(QProcess &p, const Login &login, const QStringList &topics)
    {
        QStringList args = options(login, QStringLiteral("127.0.0.1")) << QStringLiteral("-v") << QStringLiteral("-d");
        for (const QString &t : topics)
            args << QStringLiteral("-t") << t;
        p.start(QStringLiteral("mosquitto_sub"), args);
        QVERIFY(p.waitForStarted());
        QByteArray seen;
        QTRY_VERIFY_WITH_TIMEOUT((seen += p.readAllStandardOutput()).contains("Subscribed") || p.state() == QProcess::NotRunning,
                                 10000);
        p.setProperty("seen", seen);
    }

    static QByteArray message(const QString &protocol, QJsonObject data, const QString &device = QStringLiteral("other-device"))
    {
        data.insert(QStringLiteral("device_token"), device);
        return QJsonDocument(QJsonObject{{QStringLiteral("protocol"), protocol}, {QStringLiteral("data"), data}})
            .toJson(QJsonDocument::Compact);
    }

    static History entry(const QString &text)
    {
        History h;
        h.setContent(text);
        h.setFileHash(clipUtils::md5Hex(text.toUtf8()));
        h.setTimeStamp(clipUtils::currentTime());
        h.setType(QStringLiteral("text_txt+enc"));
        h.setLocalFileOk(true);
        h.save();
        return h;
    }

    // Messages arrive in order: once the sentinel's delete is applied, everything
    // published before it has been handled.
    void settle()
    {
        const History sentinel = entry(QStringLiteral("sentinel %1").arg(QDateTime::currentMSecsSinceEpoch()));
        QVERIFY(publish(topic, message(QStringLiteral("history_delete"), {{QStringLiteral("file_hash"), sentinel.file_hash()}})));
        QTRY_VERIFY_WITH_TIMEOUT(!HistoryQueries::exists(sentinel.file_hash(), QStringLiteral("history")), 10000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(DBFetcher::instance()->isOpen());
        const QString email = uniqueEmail();
        QCOMPARE(signUp(email, QStringLiteral("pw")).code(), 0);
        QCOMPARE(signIn(email, QStringLiteral("pw")).code(), 0);
        createKey();
        topic = QStringLiteral("user_id_") + clipUtils::userId();
        MqttManager *mqtt = MqttManager::instance();
        QSignalSpy subscribed(mqtt, &MqttManager::subscribed);
        mqtt->connectBroker();
        mqtt->connectBroker(); // the second call sees the attempt under way
        QVERIFY(subscribed.wait(10000));
        QCOMPARE(mqtt->connectionState(), int(MqttManager::Connected));
        QVERIFY(mqtt->lastError().isEmpty());
    }

    void deleteByPrefixOnlyFromOtherDevices()
    {
        const History own = entry(QStringLiteral("own device"));
        const History cased = entry(QStringLiteral("wrong case"));
        const History prefixed = entry(QStringLiteral("prefix"));
        QVERIFY(publish(topic, message(QStringLiteral("history_delete"), {{QStringLiteral("file_hash"), own.file_hash()}},
                                       clipUtils::deviceToken())));
        QVERIFY(publish(topic, message(QStringLiteral("History_Delete"), {{QStringLiteral("file_hash"), cased.file_hash()}})));
        QVERIFY(publish(topic, message(QStringLiteral("history_delete_v2"), {{QStringLiteral("file_hash"), prefixed.file_hash()}})));
        settle();
        QVERIFY(own.exists());
        QVERIFY(cased.exists());
        QVERIFY(!prefixed.exists());
    }

    void badPayloadsLeaveTheStoreAlone()
    {
        const History kept = entry(QStringLiteral("kept"));
        const int before = rows();
        QVERIFY(publish(topic, "{not json"));
        QVERIFY(publish(topic, "[1,2,3]"));
        QVERIFY(publish(topic, message(QStringLiteral("history_delete"), {{QStringLiteral("file_hash"), QStringLiteral("../../etc/passwd")}})));
        QVERIFY(publish(topic, message(QStringLiteral("history_delete"), {{QStringLiteral("file_hash"), kept.file_hash().toUpper()}})));
        QByteArray huge = message(QStringLiteral("history_delete"), {{QStringLiteral("file_hash"), kept.file_hash()},
                                                                      {QStringLiteral("pad"), QString(Zorvel::Mqtt::kMaxPayloadBytes, QLatin1Char('x'))}});
        QVERIFY(publish(topic, huge));
        settle();
        QCOMPARE(rows(), before);
        QVERIFY(kept.exists());
    }

    void uploadOfAKnownEntryFillsOnlyMissingIds()
    {
        History known = entry(QStringLiteral("known entry"));
        known.setFileId(77);
        known.save();
        QVERIFY(publish(topic, message(QStringLiteral("history_upload_file"),
                                       {{QStringLiteral("file_hash"), known.file_hash()},
                                        {QStringLiteral("history_id"), QStringLiteral("123")},
                                        {QStringLiteral("file_id"), 456}})));
        settle();
        const History after = stored(known.file_hash());
        QVERIFY(after.file_ready());
        QCOMPARE(after.history_id(), qint64(123));
        QCOMPARE(after.file_id(), 77);
    }

    void clearKeepsFavouritesAndNewerEntries()
    {
        NetFixture::wipeStore();
        History old = entry(QStringLiteral("old"));
        old.setTimeStamp(1000);
        old.save();
        History favourite = entry(QStringLiteral("fav"));
        favourite.setTimeStamp(1000);
        favourite.setCategory(QStringLiteral("favourite"));
        favourite.setFavourite(900);
        favourite.save();
        const History fresh = entry(QStringLiteral("fresh"));
        QVERIFY(publish(topic, message(QStringLiteral("history_clear"), {{QStringLiteral("timestamp"), 0}})));
        settle();
        QVERIFY(old.exists());
        QVERIFY(publish(topic, message(QStringLiteral("history_clear"), {{QStringLiteral("timestamp"), 5000}})));
        settle();
        QVERIFY(!old.exists());
        QVERIFY(favourite.exists());
        QVERIFY(fresh.exists());
    }

    // The shared client account and another user's device account: neither hears A's
    // notices, neither's forged clear or delete reaches A's device, neither can take
    // A's client id; the service's own notices still arrive and act.
    void othersNeitherHearNorForge()
    {
        QSettings *settings = clipUtils::settings();
        const QStringList keys{QLatin1String(Zorvel::Key::UserToken), QLatin1String(Zorvel::Key::UserId),
                               QLatin1String(Zorvel::Key::UserEmail), QLatin1String(Zorvel::Key::MqttUser),
                               QLatin1String(Zorvel::Key::MqttPassword), QLatin1String(Zorvel::Key::MqttClientId)};
        QVariantMap own;
        for (const QString &key : keys)
            own.insert(key, settings->value(key));
        const QVariantMap b = signUp(uniqueEmail(), QStringLiteral("pw")).map().value(QStringLiteral("mqtt")).toMap();
        for (const QString &key : keys)
            settings->setValue(key, own.value(key));
        const Login shared{QLatin1String(Zorvel::Mqtt::kUserName), QLatin1String(Zorvel::Mqtt::kPassword), {}};
        const Login other{b.value(QStringLiteral("username")).toString(), b.value(QStringLiteral("password")).toString(),
                          b.value(QStringLiteral("client_id")).toString()};
        QVERIFY(!other.user.isEmpty());

        QProcess sharedEar;
        QProcess otherEar;
        listen(sharedEar, shared, {topic, QStringLiteral("#")});
        listen(otherEar, other, {topic});
        const History kept = entry(QStringLiteral("kept against forgeries"));
        for (const Login &forger : {shared, other}) {
            publish(topic, message(QStringLiteral("history_clear"), {{QStringLiteral("timestamp"), 4102444800LL}}),
                    QStringLiteral("127.0.0.1"), forger);
            publish(topic, message(QStringLiteral("history_delete"), {{QStringLiteral("file_hash"), kept.file_hash()}}),
                    QStringLiteral("127.0.0.1"), forger);
            Login thief = forger;
            thief.clientId = own.value(QLatin1String(Zorvel::Key::MqttClientId)).toString();
            QProcess taken;
            taken.start(QStringLiteral("mosquitto_sub"), options(thief, QStringLiteral("127.0.0.1")) << QStringLiteral("-t")
                                                                                                      << topic);
            QVERIFY(taken.waitForFinished(10000));
            QVERIFY(taken.exitCode() != 0);
        }
        settle();
        QVERIFY(kept.exists());
        QCOMPARE(MqttManager::instance()->connectionState(), int(MqttManager::Connected));
        for (QProcess *ear : {&sharedEar, &otherEar}) {
            const QByteArray heard = ear->property("seen").toByteArray() + ear->readAllStandardOutput();
            QVERIFY2(!heard.contains("received PUBLISH"), heard.constData());
            ear->kill();
            ear->waitForFinished();
        }
    }

    // A private broker on another loopback address, restarted under the client.
    void reconnectsAfterABrokerRestart()
    {
        QTemporaryDir dir;
        const QString conf = dir.filePath(QStringLiteral("m.conf"));
        const QString passwd = dir.filePath(QStringLiteral("passwd"));
        QSettings *settings = clipUtils::settings();
        for (const Login &login : {service(), Login{settings->value(QLatin1String(Zorvel::Key::MqttUser)).toString(),
                                                    settings->value(QLatin1String(Zorvel::Key::MqttPassword)).toString(), {}}})
            QCOMPARE(QProcess::execute(QStringLiteral("mosquitto_passwd"),
                                       (QFile::exists(passwd) ? QStringList() : QStringList{QStringLiteral("-c")})
                                           << QStringLiteral("-b") << passwd << login.user << login.password),
                     0);
        QFile f(conf);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(("user " + QByteArray(getpwuid(getuid())->pw_name) + "\nlistener " + QByteArray::number(TestBroker::port())
                 + " 127.0.0.2\nallow_anonymous false\npassword_file " + passwd.toUtf8()
                 + "\nset_tcp_nodelay true\npersistence false\n"));
        f.close();
        auto startBroker = [&](QProcess &p) {
            p.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), conf});
            QVERIFY(p.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT(publish(QStringLiteral("probe"), "x", QStringLiteral("127.0.0.2")), 10000);
        };
        QProcess broker;
        startBroker(broker);

        MqttManager *mqtt = MqttManager::instance();
        MqttManagerTestHook::useBroker(mqtt, QStringLiteral("127.0.0.2"));
        MqttManagerTestHook::setCheckInterval(mqtt, 300);
        QSignalSpy subscribed(mqtt, &MqttManager::subscribed);
        QVERIFY(subscribed.wait(10000));

        // An entry on the service and here, pulled up to date.
        History missed = entry(QStringLiteral("deleted while the broker was away"));
        auto *post = new CRequestPushPost;
        post->setHistory(missed);
        QCOMPARE(run(post).data.toInt(), 0);
        missed = stored(missed.file_hash());
        QVERIFY(missed.history_id() > 0);
        QCOMPARE(run(new CPullRequest).data.toInt(), 0);

        broker.terminate();
        QVERIFY(broker.waitForFinished(10000));
        QTRY_COMPARE_WITH_TIMEOUT(mqtt->connectionState(), int(MqttManager::Disconnected), 10000);
        // Refused while the broker is away: the last error says why.
        QTRY_VERIFY_WITH_TIMEOUT(!mqtt->lastError().isEmpty(), 10000);
        // Another device deletes it now: its notice never reaches this one.
        auto *del = new CRequestPushDel;
        del->setHistory(missed);
        QCOMPARE(run(del).map().value(QStringLiteral("deleted")).toInt(), 1);
        QVERIFY(missed.exists());

        QProcess again;
        startBroker(again);
        QVERIFY(subscribed.count() > 1 || subscribed.wait(10000));
        QTRY_VERIFY_WITH_TIMEOUT(mqtt->lastError().isEmpty(), 5000);
        // Back on the broker, one pull catches up: no restart needed.
        QTRY_VERIFY_WITH_TIMEOUT(!missed.exists(), 15000);
        const History gone = entry(QStringLiteral("after restart"));
        QVERIFY(publish(topic, message(QStringLiteral("history_delete"), {{QStringLiteral("file_hash"), gone.file_hash()}}),
                        QStringLiteral("127.0.0.2")));
        QTRY_VERIFY_WITH_TIMEOUT(!gone.exists(), 10000);
        MqttManagerTestHook::setCheckInterval(mqtt, Zorvel::Mqtt::kCheckIntervalMs);
        mqtt->disconnectBroker();
        again.terminate();
        again.waitForFinished(10000);
    }
};

ZORVEL_TEST_MAIN(TestMqttMessages)
#include "tst_MqttMessages.moc"
