// Accounts against a real service over TLS: sign-up, sign-in with a sealed password
// hash, password reset through the outbox, the start-up handshake and version check.

#include "ServiceTestSupport.h"
#include "support/TestMain.h"

#include "Codec.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

using namespace ServiceTest;

class TestServiceAccounts : public QObject {
    Q_OBJECT

private slots:
    void registerAndLogin()
    {
        TestService service;
        QVERIFY(service.ok());
        ApiClient a(service);
        const Reply created = a.registerUser("ann+tag@example.com", "secret one");
        QCOMPARE(created.code(), 0);
        QCOMPARE(created.body["token"].get<std::string>().size(), size_t(64));
        for (const auto &[email, code] : std::map<std::string, int> {
                 {"ann+tag@example.com", 1001}, {"ANN+TAG@example.com", 1001}, {"not-an-address", -1}})
            QCOMPARE(ApiClient(service).registerUser(email, "other").code(), code);

        ApiClient b(service);
        const Reply in = b.login("ann+tag@example.com", "secret one");
        QCOMPARE(in.code(), 0);
        QVERIFY(in.body["user_id"] == created.body["user_id"]);
        QVERIFY(in.body["token"] != created.body["token"]);
        QCOMPARE(b.get("pull/").code(), 0);

        ApiClient c(service);
        QCOMPARE(c.login("ann+tag@example.com", "secret two").code(), 1003);
        QCOMPARE(c.login("nobody@example.com", "secret one").code(), 1003);
        // Without a hash, and with the hash itself, not sealed.
        for (const json &body : {json {{"username", "ann+tag@example.com"}},
                                 json {{"username", "ann+tag@example.com"}, {"pwd_hash", md5Hex("secret one")}}})
            QCOMPARE(c.post("login_v2/", body.dump()).code(), 1003);
        QVERIFY(c.userToken.empty());

        // Only an Argon2id verifier is stored, never the hash the client sends.
        for (const std::string &verifier : service.query("SELECT verifier FROM users")) {
            QVERIFY(verifier.rfind("$argon2id$", 0) == 0);
            QVERIFY(verifier.find(md5Hex("secret one")) == std::string::npos);
        }
    }

    void initReportsExpiredTokens()
    {
        TestService service;
        ApiClient a(service, "bob@example.com");
        const Reply init = a.get("init/", "&device_name=host");
        QCOMPARE(init.code(), 0);
        QCOMPARE(init.body["data"]["token_expire"].get<int>(), 0);
        QCOMPARE(init.body["e2ee"].get<std::string>().rfind("https://127.0.0.1:", 0), size_t(0));
        QVERIFY(init.body["public_key"] == a.get("public_key/").body["public_key"]);
        QCOMPARE(ZorvelService::Codec::fromBase64(init.body["public_key"])->size(), size_t(32));

        ApiClient stranger(service);
        QCOMPARE(stranger.get("init/").body["data"]["token_expire"].get<int>(), 0);
        stranger.userToken = std::string(64, 'a');
        QCOMPARE(stranger.get("init/").body["data"]["token_expire"].get<int>(), 1);
        QCOMPARE(stranger.get("pull/").status, 401);

        // A token past its time is reported and refused.
        service.query("UPDATE tokens SET expires = 1");
        QCOMPARE(a.get("init/").body["data"]["token_expire"].get<int>(), 1);
        QCOMPARE(a.get("pull/").status, 401);
    }

    void forgottenPasswordGoesToOutbox()
    {
        TestService service;
        ApiClient a(service);
        QCOMPARE(a.registerUser("carol@example.com", "old password").code(), 0);
        QCOMPARE(a.get("forget_pwd/", "&user_email=nobody@example.com").code(), 1002);
        const QDir outbox(QString::fromStdString(service.dataDir() + "/outbox"));
        QVERIFY(outbox.entryList(QDir::Files).isEmpty());

        QCOMPARE(a.get("forget_pwd/", "&user_email=carol@example.com").code(), 0);
        const QStringList mails = outbox.entryList({"*.eml"}, QDir::Files);
        QCOMPARE(mails.size(), 1);
        QFile mail(outbox.filePath(mails.first()));
        QVERIFY(mail.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(mail.readAll());
        QVERIFY(text.contains("To: carol@example.com"));
        const auto link = QRegularExpression("/account/reset\\?token=([0-9a-f]{64})").match(text);
        QVERIFY(link.hasMatch());

        // The link's form sets a new password (once) and signs every device out.
        const std::string token = link.captured(1).toStdString();
        QCOMPARE(a.get("/account/reset?token=" + token).status, 200);
        const std::string form = "token=" + token + "&password=new+password";
        const auto reset = [&] { return a.call("POST", "/account/reset", form, {}, "application/x-www-form-urlencoded").status; };
        QCOMPARE(reset(), 200);
        QCOMPARE(reset(), 400);
        QCOMPARE(a.get("pull/").status, 401);
        ApiClient b(service);
        QCOMPARE(b.login("carol@example.com", "old password").code(), 1003);
        QCOMPARE(b.login("carol@example.com", "new password").code(), 0);
    }

    void versionFromConfiguration()
    {
        TestService service;
        ApiClient a(service);
        Reply version = a.get("check_version/");
        QCOMPARE(version.code(), 0);
        QVERIFY(version.body["data"]["version"] == "2.1.15");
        QVERIFY(version.body["data"].contains("download_url") && version.body["data"].contains("update_info"));

        QFile config(QString::fromStdString(service.dataDir() + "/config.json"));
        QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
        config.write(R"({"version": "2.2.0", "update_info": "faster sync", "download_url": 7})");
        config.close();
        version = a.get("check_version/");
        QVERIFY(version.body["data"]["version"] == "2.2.0");
        QVERIFY(version.body["data"]["update_info"] == "faster sync");
        QVERIFY(version.body["data"]["download_url"].is_string());
    }

    void restartKeepsCertificateAndKeys()
    {
        QTemporaryDir dir;
        ZorvelService::ServiceOptions options;
        options.port = 0;
        options.dataDir = dir.path().toStdString();
        QByteArray first;
        for (int run = 0; run < 2; ++run) {
            ZorvelService::Service service(options);
            std::string error;
            QVERIFY(service.start(&error));
            QFile file(QString::fromStdString(service.caPath()));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray ca = file.readAll();
            QVERIFY(ca.startsWith("-----BEGIN CERTIFICATE-----"));
            QCOMPARE(ca, run ? first : (first = ca));
        }
    }
};

ZORVEL_TEST_MAIN(TestServiceAccounts)
#include "tst_service_accounts.moc"
