// Account requests against the local service: what each sends and what each
// stores in the settings.
#include "support/TestMain.h"
#include "NetFixture.h"

#include "net/CClearHistoryRequest.h"
#include "net/CInitRequest.h"
#include "net/CRequestCheckUpdate.h"
#include "net/CRequestFindPwd.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QtTest>

using namespace NetFixture;

namespace {

QSettings *settings() { return clipUtils::settings(); }
QVariant setting(const char *key) { return settings()->value(QLatin1String(key)); }

QVariantMap bodyOf(CBaseRequest &request)
{
    request.buildBody();
    return QJsonDocument::fromJson(request.body()).object().toVariantMap();
}

} // namespace

class TestAccountRequests : public QObject
{
    Q_OBJECT

    QString email;
    const QString password = QStringLiteral("pässwort 1");

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(DBFetcher::instance()->isOpen());
        email = uniqueEmail();
    }

    void initStoresTheServersPublicKey()
    {
        CInitRequest probe;
        probe.buildUrl();
        QVERIFY(probe.url().contains(QLatin1String("init/?version=2.1.15&")));
        QVERIFY(probe.url().endsWith(QLatin1String("&device_name=") + clipUtils::deviceName()));

        const Outcome first = run(new CInitRequest);
        QCOMPARE(first.status, 200);
        const QByteArray key = setting("server_public_key").toByteArray();
        QCOMPARE(key.size(), 32); // decoded bytes, not the Base64 text
        QCOMPARE(QString::fromLatin1(key.toBase64()), first.map().value(QStringLiteral("public_key")).toString());
        QVERIFY(setting("e2eePage").toString().endsWith(QLatin1String("/help/e2ee.html")));
        QVERIFY(first.map().value(QStringLiteral("data")).toMap().contains(QStringLiteral("homepage")));

        run(new CInitRequest);
        QCOMPARE(setting("server_public_key").toByteArray(), key);
    }

    void signUpStoresTheAccount()
    {
        signOutLocally();
        CRegisterrequest probe;
        probe.setUserName(email);
        probe.setPasswordHash(passwordHash(password));
        probe.buildUrl();
        QCOMPARE(probe.method(), QStringLiteral("GET"));
        QVERIFY(probe.url().contains(QLatin1String("&username=") + email + QLatin1String("&pwd_hash=")
                                     + passwordHash(password) + QLatin1String("&device_name=")));

        const Outcome out = signUp(email, password);
        QCOMPARE(out.code(), 0);
        const QString token = out.map().value(QStringLiteral("token")).toString();
        QVERIFY(!token.isEmpty());
        QCOMPARE(clipUtils::userToken(), token);
        QCOMPARE(clipUtils::userId(), QString::number(out.map().value(QStringLiteral("user_id")).toLongLong()));
        QCOMPARE(clipUtils::userEmail(), email);

        // The address is taken: 1001, and the stored account stays as it is.
        const Outcome again = signUp(email, QStringLiteral("other"));
        QCOMPARE(again.code(), 1001);
        QCOMPARE(clipUtils::userToken(), token);
    }

    void signInSealsThePasswordHash()
    {
        signOutLocally();
        settings()->remove(QStringLiteral("server_public_key"));
        CLoginRequest bare;
        bare.setUserName(email);
        bare.setPassword(password);
        QCOMPARE(bodyOf(bare), QVariantMap({{QStringLiteral("username"), email}}));

        QCOMPARE(run(new CInitRequest).status, 200);
        CLoginRequest sealed;
        sealed.setUserName(email);
        sealed.setPassword(password);
        const QVariantMap body = bodyOf(sealed);
        QCOMPARE(body.keys(), QStringList({QStringLiteral("pwd_hash"), QStringLiteral("username")}));
        const QByteArray box = QByteArray::fromBase64(body.value(QStringLiteral("pwd_hash")).toString().toLatin1());
        QCOMPARE(box.size(), 32 + 48); // the MD5 text in a sealed box
        QVERIFY(!sealed.body().contains(passwordHash(password).toLatin1()));
        QVERIFY(!sealed.body().contains(password.toUtf8()));

        const Outcome out = signIn(email, password);
        QCOMPARE(out.code(), 0);
        QVERIFY(clipUtils::hasUserToken());
        QCOMPARE(clipUtils::userToken(), out.map().value(QStringLiteral("token")).toString());
        QCOMPARE(clipUtils::userEmail(), email);
    }

    void wrongPasswordStoresNothing()
    {
        signOutLocally();
        settings()->setValue(QStringLiteral("user_email"), QStringLiteral("before@zorvel.test"));
        const Outcome out = signIn(email, QStringLiteral("wrong"));
        QVERIFY(out.data.isValid()); // the map still arrives for the window to show
        QVERIFY(out.code() != 0);
        QVERIFY(!clipUtils::hasUserToken());
        QCOMPARE(clipUtils::userEmail(), QStringLiteral("before@zorvel.test"));

        // Code 0 without a token stores nothing either.
        CLoginRequest login;
        login.setUserName(email);
        QVERIFY(login.parseResponse("{\"code\": 0, \"user_id\": 42}").isValid());
        QVERIFY(!clipUtils::hasUserToken());
        QVERIFY(login.parseResponse("{\"code\": 0, \"token\": \"t\", \"user_id\": 42}").isValid());
        QCOMPARE(clipUtils::userToken(), QStringLiteral("t"));
        QCOMPARE(clipUtils::userId(), QStringLiteral("42"));
        QCOMPARE(clipUtils::userEmail(), email);
        signOutLocally();
    }

    void initCarriesTheTokenOnlyWhenSignedIn()
    {
        signOutLocally();
        CInitRequest out;
        out.buildUrl();
        QVERIFY(!out.url().contains(QLatin1String("user_token")));
        QCOMPARE(signIn(email, password).code(), 0);
        CInitRequest in;
        in.buildUrl();
        QVERIFY(in.url().endsWith(QLatin1String("&user_token=") + clipUtils::userToken()));
        QCOMPARE(run(new CInitRequest).map().value(QStringLiteral("data")).toMap().value(QStringLiteral("token_expire")).toInt(), 0);
    }

    void forgottenPasswordAndVersionCheck()
    {
        QCOMPARE(run([] { auto *r = new CRequestFindPwd; r->setEmail(QStringLiteral("nobody.here@zorvel.test")); return r; }()).code(), 1002);
        auto *known = new CRequestFindPwd;
        known->setEmail(email);
        QCOMPARE(run(known).code(), 0);

        const Outcome version = run(new CRequestCheckUpdate);
        QCOMPARE(version.code(), 0);
        QVERIFY(!version.map().value(QStringLiteral("data")).toMap().value(QStringLiteral("version")).toString().isEmpty());
    }

    void clearHistoryNeedsAKeyAndDeliversOnlySuccess()
    {
        QCOMPARE(signIn(email, password).code(), 0);
        ZeroManager::instance()->clearAllKeys();
        QVERIFY(!run(new CClearHistoryRequest).data.isValid());

        createKey();
        const Outcome out = run(new CClearHistoryRequest);
        QCOMPARE(out.code(), 0);
        QVERIFY(out.map().contains(QStringLiteral("count")));

        CClearHistoryRequest parser;
        QVERIFY(!parser.parseResponse("{\"code\": 5, \"count\": 3}").isValid());
        QVERIFY(!parser.parseResponse("{\"count\": 3}").isValid());
    }
};

ZORVEL_TEST_MAIN(TestAccountRequests)
#include "tst_AccountRequests.moc"
