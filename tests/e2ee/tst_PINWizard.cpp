// The PIN wizard's pages and result map, and what the key requests put in their
// bodies (never a PIN or a password).
#include "support/TestMain.h"
#include "WizardDriver.h"

#include "app/Constants.h"
#include "app/clipUtils.h"
#include "desktop/AccountPwdWizardPage.h"
#include "desktop/PINPage.h"
#include "e2ee/ZeroManager.h"
#include "net/CRequestZeroGet.h"
#include "net/CRequestZeroModify.h"
#include "net/CRequestZeroPush.h"
#include "net/CRequestZeroRevert.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <sodium.h>

namespace {

QStringList titles(const PINWizard &wizard)
{
    QStringList out;
    for (int id : wizard.pageIds())
        out << wizard.page(id)->title();
    return out;
}

QJsonObject bodyOf(CBaseRequest &request)
{
    request.buildBody();
    return QJsonDocument::fromJson(request.body()).object();
}

} // namespace

class TestPINWizard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(sodium_init() >= 0); }

    // The texts of every page: tst_Translation (in both languages).
    void pagesFollowTheMode()
    {
        const QString current = "当前加密PIN";
        const QString fresh = "新的PIN";
        const QString again = "再次输入新的加密PIN";
        QCOMPARE(titles(PINWizard(nullptr, PINWizard::Unlock)), QStringList({current}));
        QCOMPARE(titles(PINWizard(nullptr, PINWizard::Activate)), QStringList({fresh, again}));
        QCOMPARE(titles(PINWizard(nullptr, PINWizard::Reset)), QStringList({"登录密码验证", fresh, again}));

        PINWizard wizard(nullptr, PINWizard::Reset);
        QCOMPARE(wizard.size(), QSize(486, 283));
        auto *pwd = qobject_cast<AccountPwdWizardPage *>(wizard.page(wizard.pageIds().first()));
        QCOMPARE(pwd->edit()->echoMode(), QLineEdit::Password);
        auto *pin = qobject_cast<PINPage *>(wizard.page(wizard.pageIds().last()));
        QCOMPARE(pin->index(), 2);
        QCOMPARE(pin->edit()->echoMode(), QLineEdit::Password);
    }

    // Answers typed page after page; the wizard hands over the entered values (or
    // nothing when cancelled for want of answers). An empty entry keeps its page
    // silently; a new PIN has at least six characters (a current shorter one is
    // still accepted), differs from the current one and is repeated.
    void answersAndResult_data()
    {
        const QString tooShort = PINPage::tooShortText();
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QVariantMap>("result");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("unlock") << int(PINWizard::Unlock) << QStringList{"1111"} << QVariantMap{{"last_pin", "1111"}}
                                << QStringList();
        QTest::newRow("activate") << int(PINWizard::Activate) << QStringList{"222222", "222222"}
                                  << QVariantMap{{"new_pin", "222222"}} << QStringList();
        QTest::newRow("change") << int(PINWizard::ChangePin) << QStringList{"1111", "333333", "333333"}
                                << QVariantMap{{"last_pin", "1111"}, {"new_pin", "333333"}} << QStringList();
        QTest::newRow("reset") << int(PINWizard::Reset) << QStringList{"secret pw", "444444", "444444"}
                               << QVariantMap{{"pwd", "secret pw"}, {"new_pin", "444444"}} << QStringList();
        QTest::newRow("cancelled") << int(PINWizard::Activate) << QStringList{"5555"} << QVariantMap() << QStringList{tooShort};
        QTest::newRow("empty entries") << int(PINWizard::Reset) << QStringList{"", "pw", "", "666666", "", "666666"}
                                       << QVariantMap{{"pwd", "pw"}, {"new_pin", "666666"}} << QStringList();
        QTest::newRow("new PIN rules") << int(PINWizard::ChangePin)
                                       << QStringList{"1234", "12345", "五六七八九", "😀😀😀", "567890", "567891", "567890"}
                                       << QVariantMap{{"last_pin", "1234"}, {"new_pin", "567890"}}
                                       << QStringList{tooShort, tooShort, tooShort, "和上一次的PIN不相同"};
        QTest::newRow("same as current") << int(PINWizard::ChangePin) << QStringList{"123456", "123456", "654321", "654321"}
                                         << QVariantMap{{"last_pin", "123456"}, {"new_pin", "654321"}}
                                         << QStringList{"不能和上一个PIN相同"};
        // Without a current-PIN page there is nothing to differ from; the length still counts.
        QTest::newRow("reset length") << int(PINWizard::Reset) << QStringList{"pw", "1234", "123456", "123456"}
                                      << QVariantMap{{"pwd", "pw"}, {"new_pin", "123456"}} << QStringList{tooShort};
    }
    void answersAndResult()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, answers);
        QFETCH(QVariantMap, result);
        QFETCH(QStringList, boxes);
        WizardDriver driver(answers);
        PINWizard wizard(nullptr, mode);
        QSignalSpy results(&wizard, &PINWizard::resultHandler);
        wizard.exec();
        QCOMPARE(results.isEmpty() ? QVariantMap() : results.first().first().toMap(), result);
        QCOMPARE(driver.cancelled(), int(result.isEmpty()));
        QCOMPARE(driver.pages().size(), answers.size());
        QCOMPARE(driver.seen(), boxes);
        for (QLineEdit *edit : wizard.findChildren<QLineEdit *>())
            QVERIFY2(edit->text().isEmpty(), "an entry stayed in the wizard");
    }

    void keyRequestsNeedASignedInUserButNoKey()
    {
        clipUtils::removeUserToken();
        CRequestZeroGet get;
        QSignalSpy spy(&get, &CBaseRequest::responseData);
        get.start();
        QCOMPARE(spy.count(), 1);
        QVERIFY(!spy.first().at(1).isValid() && !get.reply());

        clipUtils::settings()->setValue(Zorvel::Key::UserToken, "token");
        QVERIFY(!ZeroManager::instance()->hasKey());
        QVERIFY(CRequestZeroGet().canContinue());
    }

    void bodiesCarryHashesNeverSecrets()
    {
        ZeroManager *zero = ZeroManager::instance();
        const QVariantMap dictionary = zero->createKey("old pin");
        QVERIFY(!dictionary.isEmpty());
        CRequestZeroPush push;
        push.setKeyDict(dictionary);
        QCOMPARE(bodyOf(push).toVariantMap(), QVariantMap({{"key_dict", dictionary}}));

        CRequestZeroModify modify;
        modify.setKeyDict(dictionary);
        const QByteArray salt = QByteArray::fromHex(dictionary.value("cipher_hash").toString().left(32).toLatin1());
        const QString proof = zero->hashText(salt, "old pin");
        QCOMPARE(QByteArray::fromBase64(proof.toLatin1()).size(), 32);
        modify.setLastPwdHash(proof);
        QCOMPARE(bodyOf(modify).value("last_pwd_hash").toString(), proof);
        QVERIFY(!modify.body().contains("old pin"));

        // The reset seals the password's MD5 text to the service's key.
        unsigned char publicKey[crypto_box_PUBLICKEYBYTES];
        unsigned char secretKey[crypto_box_SECRETKEYBYTES];
        crypto_box_keypair(publicKey, secretKey);
        const QString password = "账户 password";
        CRequestZeroRevert reset;
        reset.setKeyDict(dictionary);
        reset.setPassword(password);
        clipUtils::settings()->remove(Zorvel::Key::ServerPublicKey);
        QVERIFY(!bodyOf(reset).contains("pwd_hash_cipher"));

        clipUtils::settings()->setValue(Zorvel::Key::ServerPublicKey, QByteArray(reinterpret_cast<const char *>(publicKey), 32));
        reset.setPassword(password); // each body build uses the password up
        const QJsonObject resetBody = bodyOf(reset);
        QVERIFY(reset.password().isEmpty());
        QCOMPARE(resetBody.value("key_dict").toObject().toVariantMap(), dictionary);
        QVERIFY(!reset.body().contains(password.toUtf8()));
        const QByteArray sealed = QByteArray::fromBase64(resetBody.value("pwd_hash_cipher").toString().toLatin1());
        QVERIFY(sealed.size() > int(crypto_box_SEALBYTES));
        QByteArray opened(sealed.size() - int(crypto_box_SEALBYTES), '\0');
        QCOMPARE(crypto_box_seal_open(reinterpret_cast<unsigned char *>(opened.data()),
                                      reinterpret_cast<const unsigned char *>(sealed.constData()), sealed.size(), publicKey,
                                      secretKey),
                 0);
        QCOMPARE(QString(opened), clipUtils::md5Hex(password.toUtf8()));
        QVERIFY(!reset.body().contains(opened));
    }
};

ZORVEL_TEST_MAIN(TestPINWizard)
#include "tst_PINWizard.moc"
