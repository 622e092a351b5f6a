// Account requests against the local service: what each sends and what each
// stores in the settings.
#include "support/TestMain.h"
#include "NetFixture.h"

#include "net/CClearHistoryRequest.h"
#include "net/CInitRequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QtTest>

using namespace NetFixture;

namespace {

QVariant setting(const char *key) { return clipUtils::settings()->value(key); }

QVariantMap loginBody(const QString &email, const QString &password)
{
    CLoginRequest login;
    login.setUserName(email);
    login.setPassword(password);
    login.buildBody();
    return QJsonDocument::fromJson(login.body()).object().toVariantMap();
}

} // namespace

class TestAccountRequests : public QObject
{
    Q_OBJECT

    QString email;
    const QString password = "pässwort 1";

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(DBFetcher::instance()->isOpen());
        email = uniqueEmail();
    }

    void initStoresTheServersPublicKey()
    {
        const Outcome first = run(new CInitRequest);
        QCOMPARE(first.status, 200);
        const QByteArray key = setting("server_public_key").toByteArray();
        QCOMPARE(key.size(), 32); // decoded bytes, not the Base64 text
        QCOMPARE(QString(key.toBase64()), first.map().value("public_key").toString());
        QVERIFY(setting("e2eePage").toString().endsWith("/help/e2ee.html"));
        QVERIFY(first.map().value("data").toMap().contains("homepage"));
        run(new CInitRequest);
        QCOMPARE(setting("server_public_key").toByteArray(), key);
    }

    void signUpStoresTheAccount()
    {
        signOutLocally();
        const Outcome out = signUp(email, password);
        QCOMPARE(out.code(), 0);
        const QString token = out.map().value("token").toString();
        QVERIFY(!token.isEmpty());
        QCOMPARE(clipUtils::userToken(), token);
        QCOMPARE(clipUtils::userId(), QString::number(out.map().value("user_id").toLongLong()));
        QCOMPARE(clipUtils::userEmail(), email);
        // The address is taken: 1001, and the stored account stays as it is.
        QCOMPARE(signUp(email, "other").code(), 1001);
        QCOMPARE(clipUtils::userToken(), token);
    }

    void signInSealsThePasswordHash()
    {
        signOutLocally();
        clipUtils::settings()->remove("server_public_key");
        QCOMPARE(loginBody(email, password), QVariantMap({{"username", email}}));

        QCOMPARE(run(new CInitRequest).status, 200);
        const QVariantMap body = loginBody(email, password);
        QCOMPARE(body.keys(), QStringList({"pwd_hash", "username"}));
        const QByteArray box = QByteArray::fromBase64(body.value("pwd_hash").toByteArray());
        QCOMPARE(box.size(), 32 + 48); // the MD5 text in a sealed box
        const QByteArray sent = QJsonDocument(QJsonObject::fromVariantMap(body)).toJson();
        QVERIFY(!sent.contains(passwordHash(password).toLatin1()) && !sent.contains(password.toUtf8()));

        const Outcome out = signIn(email, password);
        QCOMPARE(out.code(), 0);
        QCOMPARE(clipUtils::userToken(), out.map().value("token").toString());
        QCOMPARE(clipUtils::userEmail(), email);
        // Signed in, the handshake carries the token.
        CInitRequest init;
        init.buildUrl();
        QVERIFY(init.url().endsWith("&user_token=" + clipUtils::userToken()));
        QCOMPARE(run(new CInitRequest).map().value("data").toMap().value("token_expire").toInt(), 0);
    }

    void wrongPasswordStoresNothing()
    {
        signOutLocally();
        clipUtils::settings()->setValue("user_email", "before@zorvel.test");
        const Outcome out = signIn(email, "wrong");
        QVERIFY(out.data.isValid()); // the map still arrives for the window to show
        QVERIFY(out.code() != 0);
        QVERIFY(!clipUtils::hasUserToken());
        QCOMPARE(clipUtils::userEmail(), QString("before@zorvel.test"));

        // Code 0 without a token stores nothing either.
        CLoginRequest login;
        login.setUserName(email);
        QVERIFY(login.parseResponse("{\"code\": 0, \"user_id\": 42}").isValid());
        QVERIFY(!clipUtils::hasUserToken());
        QVERIFY(login.parseResponse("{\"code\": 0, \"token\": \"t\", \"user_id\": 42}").isValid());
        QCOMPARE(clipUtils::userToken() + clipUtils::userId() + clipUtils::userEmail(), "t42" + email);
        signOutLocally();
    }

    void clearHistoryNeedsAKeyAndDeliversOnlySuccess()
    {
        QCOMPARE(signIn(email, password).code(), 0);
        ZeroManager::instance()->clearAllKeys();
        QVERIFY(!run(new CClearHistoryRequest).data.isValid());
        createKey();
        const Outcome out = run(new CClearHistoryRequest);
        QCOMPARE(out.code(), 0);
        QVERIFY(out.map().contains("count"));
        CClearHistoryRequest parser;
        QVERIFY(!parser.parseResponse("{\"code\": 5, \"count\": 3}").isValid());
        QVERIFY(!parser.parseResponse("{\"count\": 3}").isValid());
    }
};

ZORVEL_TEST_MAIN(TestAccountRequests)
#include "tst_AccountRequests.moc"
