// Notification messages through the real broker: what is handled, what is dropped,
// and the reconnect after a broker restart with the pull that catches up.
#include "support/TestMain.h"
#include "net/NetFixture.h"

#include "app/Constants.h"
#include "net/CPullRequest.h"
#include "net/CRequestPushDel.h"
#include "net/CRequestPushPost.h"
#include "push/MqttManager.h"
#include "support/TestBroker.h"

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

namespace {

struct Login {
    QString user;
    QString password;
    QString clientId; // empty: any
};

Login service()
{
    const TestBroker::Account account = TestBroker::serviceAccount();
    return {QString::fromStdString(account.user), QString::fromStdString(account.password), {}};
}

QStringList options(const Login &login, const QString &host = "127.0.0.1")
{
    QStringList args{"-h", host, "-p", QString::number(TestBroker::port()), "-u", login.user, "-P", login.password};
    if (!login.clientId.isEmpty())
        args << "-i" << login.clientId;
    return args;
}

// As the service by default; mosquitto_pub does not report a refused publish, so
// a forgery "succeeds" here and must be caught by its absence of effect.
bool publish(const QString &topic, const QByteArray &payload, const QString &host = "127.0.0.1", const Login &login = service())
{
    QProcess p;
    p.start("mosquitto_pub", options(login, host) << "-t" << topic << "-s");
    p.write(payload);
    p.closeWriteChannel();
    return p.waitForFinished(10000) && p.exitCode() == 0;
}

// A listener with `login` on `topics`, returned once the broker answered its
// subscriptions (granted or not).
void listen(QProcess &p, const Login &login, const QStringList &topics)
{
    QStringList args = options(login) << "-v" << "-d";
    for (const QString &t : topics)
        args << "-t" << t;
    p.start("mosquitto_sub", args);
    QVERIFY(p.waitForStarted());
    QByteArray seen;
    QTRY_VERIFY_WITH_TIMEOUT((seen += p.readAllStandardOutput()).contains("Subscribed") || p.state() == QProcess::NotRunning,
                             10000);
    p.setProperty("seen", seen);
}

QByteArray message(const QString &protocol, QJsonObject data, const QString &device = "other-device")
{
    data.insert("device_token", device);
    return QJsonDocument(QJsonObject{{"protocol", protocol}, {"data", data}}).toJson(QJsonDocument::Compact);
}

QByteArray deletion(const History &h, const QString &protocol = "history_delete", const QString &device = "other-device")
{
    return message(protocol, {{"file_hash", h.file_hash()}}, device);
}

// An entry here, not pending for the push chain.
History entry(const QString &text, double timestamp = 0) { return captureText(text, timestamp, false); }

} // namespace

class TestMqttMessages : public QObject
{
    Q_OBJECT

    QString topic;

    // Messages arrive in order: once the sentinel's delete is applied, everything
    // published before it has been handled.
    void settle()
    {
        const History sentinel = entry(QString("sentinel %1").arg(QDateTime::currentMSecsSinceEpoch()));
        QVERIFY(publish(topic, deletion(sentinel)));
        QTRY_VERIFY_WITH_TIMEOUT(!sentinel.exists(), 10000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(DBFetcher::instance()->isOpen());
        QCOMPARE(signUp(uniqueEmail(), "pw").code(), 0);
        createKey();
        topic = "user_id_" + clipUtils::userId();
        MqttManager *mqtt = MqttManager::instance();
        QSignalSpy subscribed(mqtt, &MqttManager::subscribed);
        mqtt->connectBroker();
        mqtt->connectBroker(); // the second call sees the attempt under way
        QVERIFY(subscribed.wait(10000));
        QCOMPARE(mqtt->connectionState(), int(MqttManager::Connected));
        QVERIFY(mqtt->lastError().isEmpty());
    }

    // Deletions act by protocol prefix and only from other devices; bad payloads (an
    // over-long key hash would name the encrypted copy's file) act not at all.
    void onlyWellFormedNoticesOfOtherDevicesAct()
    {
        const History own = entry("own device");
        const History cased = entry("wrong case");
        const History prefixed = entry("prefix");
        const History kept = entry("kept");
        const History longKey = entry("over-long key hash");
        for (const QByteArray &notice :
             {deletion(own, "history_delete", clipUtils::deviceToken()), deletion(cased, "History_Delete"),
              deletion(prefixed, "history_delete_v2"), QByteArray("{not json"), QByteArray("[1,2,3]"),
              message("history_delete", {{"file_hash", "../../etc/passwd"}}),
              message("history_delete", {{"file_hash", kept.file_hash().toUpper()}}),
              message("history_delete", {{"file_hash", longKey.file_hash()}, {"key_hash", "../" + QString(62, 'a')}}),
              message("history_delete", {{"file_hash", kept.file_hash()}, {"pad", QString(Zorvel::Mqtt::kMaxPayloadBytes, 'x')}})})
            QVERIFY(publish(topic, notice));
        settle();
        QVERIFY(own.exists() && cased.exists() && kept.exists() && longKey.exists());
        QVERIFY(!prefixed.exists());
    }

    // An upload notice fills only the ids a known entry lacks; a clear spares favourites
    // and newer entries, and a clear at time 0 removes nothing.
    void uploadAndClearNotices()
    {
        wipeStore();
        History known = entry("known entry");
        known.setFileId(77);
        known.save();
        const History old = entry("old", 1000);
        History favourite = entry("fav", 1000);
        favourite.setCategory("favourite");
        favourite.setFavourite(900);
        favourite.save();
        QVERIFY(publish(topic, message("history_upload_file",
                                       {{"file_hash", known.file_hash()}, {"history_id", "123"}, {"file_id", 456}})));
        QVERIFY(publish(topic, message("history_clear", {{"timestamp", 0}})));
        settle();
        const History after = stored(known.file_hash());
        QCOMPARE(QVariantList({after.file_ready(), after.history_id(), after.file_id()}), QVariantList({true, 123, 77}));
        QVERIFY(old.exists());
        QVERIFY(publish(topic, message("history_clear", {{"timestamp", 5000}})));
        settle();
        QVERIFY(!old.exists());
        QVERIFY(favourite.exists() && known.exists());
    }

    // The shared client account and another user's device account: neither hears A's
    // notices, neither's forged clear or delete reaches A's device, neither can take
    // A's client id; the service's own notices still arrive and act.
    void othersNeitherHearNorForge()
    {
        QSettings *settings = clipUtils::settings();
        QVariantMap own;
        for (const char *key : {Zorvel::Key::UserToken, Zorvel::Key::UserId, Zorvel::Key::UserEmail,
                                Zorvel::Key::MqttUser, Zorvel::Key::MqttPassword, Zorvel::Key::MqttClientId})
            own.insert(key, settings->value(key));
        const QVariantMap b = signUp(uniqueEmail(), "pw").map().value("mqtt").toMap();
        for (auto i = own.begin(); i != own.end(); ++i)
            settings->setValue(i.key(), i.value());
        const Login shared{Zorvel::Mqtt::kUserName, Zorvel::Mqtt::kPassword, {}};
        const Login other{b.value("username").toString(), b.value("password").toString(), b.value("client_id").toString()};
        QVERIFY(!other.user.isEmpty());

        QProcess sharedEar;
        QProcess otherEar;
        listen(sharedEar, shared, {topic, "#"});
        listen(otherEar, other, {topic});
        const History kept = entry("kept against forgeries");
        for (const Login &forger : {shared, other}) {
            publish(topic, message("history_clear", {{"timestamp", 4102444800LL}}), "127.0.0.1", forger);
            publish(topic, deletion(kept), "127.0.0.1", forger);
            Login thief = forger;
            thief.clientId = own.value(Zorvel::Key::MqttClientId).toString();
            QProcess taken;
            taken.start("mosquitto_sub", options(thief) << "-t" << topic);
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
        const QString conf = dir.filePath("m.conf");
        const QString passwd = dir.filePath("passwd");
        QSettings *settings = clipUtils::settings();
        for (const Login &login : {service(), Login{settings->value(Zorvel::Key::MqttUser).toString(),
                                                    settings->value(Zorvel::Key::MqttPassword).toString(), {}}})
            QCOMPARE(QProcess::execute("mosquitto_passwd", (QFile::exists(passwd) ? QStringList() : QStringList{"-c"})
                                                               << "-b" << passwd << login.user << login.password),
                     0);
        QFile f(conf);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("user " + QByteArray(getpwuid(getuid())->pw_name) + "\nlistener " + QByteArray::number(TestBroker::port())
                + " 127.0.0.2\nallow_anonymous false\npassword_file " + passwd.toUtf8()
                + "\nset_tcp_nodelay true\npersistence false\n");
        f.close();
        auto startBroker = [&](QProcess &p) {
            p.start("mosquitto", {"-c", conf});
            QVERIFY(p.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT(publish("probe", "x", "127.0.0.2"), 10000);
        };
        QProcess broker;
        startBroker(broker);

        MqttManager *mqtt = MqttManager::instance();
        MqttManagerTestHook::useBroker(mqtt, "127.0.0.2");
        MqttManagerTestHook::setCheckInterval(mqtt, 300);
        QSignalSpy subscribed(mqtt, &MqttManager::subscribed);
        QVERIFY(subscribed.wait(10000));

        // An entry on the service and here, pulled up to date.
        History missed = entry("deleted while the broker was away");
        QCOMPARE(send<CRequestPushPost>(missed).data.toInt(), 0);
        missed = stored(missed.file_hash());
        QCOMPARE(run(new CPullRequest).data.toInt(), 0);

        broker.terminate();
        QVERIFY(broker.waitForFinished(10000));
        QTRY_COMPARE_WITH_TIMEOUT(mqtt->connectionState(), int(MqttManager::Disconnected), 10000);
        // Refused while the broker is away: the last error says why.
        QTRY_VERIFY_WITH_TIMEOUT(!mqtt->lastError().isEmpty(), 10000);
        // Another device deletes it now: its notice never reaches this one.
        QCOMPARE(send<CRequestPushDel>(missed).map().value("deleted").toInt(), 1);
        QVERIFY(missed.exists());

        QProcess again;
        startBroker(again);
        QVERIFY(subscribed.count() > 1 || subscribed.wait(10000));
        QTRY_VERIFY_WITH_TIMEOUT(mqtt->lastError().isEmpty(), 5000);
        // Back on the broker, one pull catches up: no restart needed.
        QTRY_VERIFY_WITH_TIMEOUT(!missed.exists(), 15000);
        MqttManagerTestHook::setCheckInterval(mqtt, Zorvel::Mqtt::kCheckIntervalMs);
        mqtt->disconnectBroker();
        again.terminate();
        again.waitForFinished(10000);
    }
};

ZORVEL_TEST_MAIN(TestMqttMessages)
#include "tst_MqttMessages.moc"
