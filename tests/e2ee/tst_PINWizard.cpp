// The PIN wizard's pages and result map, and what the key requests put in their
// bodies (never a PIN or a password).
#include "support/TestMain.h"
#include "WizardDriver.h"
#include "net/BoxDriver.h"

#include "app/Constants.h"
#include "app/clipUtils.h"
#include "e2ee/AccountPwdWizardPage.h"
#include "e2ee/CRequestZeroGet.h"
#include "e2ee/CRequestZeroModify.h"
#include "e2ee/CRequestZeroPush.h"
#include "e2ee/CRequestZeroRevert.h"
#include "e2ee/PINPage.h"
#include "e2ee/ZeroManager.h"

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

// Runs a wizard of the given mode with the driver's answers; returns the result map
// it handed over, or an invalid value when it was cancelled.
QVariant runWizard(int mode, const QStringList &answers, WizardDriver &driver)
{
    PINWizard wizard(nullptr, mode);
    QSignalSpy results(&wizard, &PINWizard::resultHandler);
    driver.setAnswers(answers);
    wizard.exec();
    for (QLineEdit *edit : wizard.findChildren<QLineEdit *>()) {
        if (!edit->text().isEmpty())
            return QStringLiteral("an entry stayed in the wizard");
    }
    return results.isEmpty() ? QVariant() : results.first().first();
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

    void pagesFollowTheMode()
    {
        const QString current = QStringLiteral("当前加密PIN");
        const QString fresh = QStringLiteral("新的PIN");
        const QString again = QStringLiteral("再次输入新的加密PIN");
        QCOMPARE(titles(PINWizard(nullptr, PINWizard::Unlock)), QStringList({current}));
        QCOMPARE(titles(PINWizard(nullptr, PINWizard::Activate)), QStringList({fresh, again}));
        QCOMPARE(titles(PINWizard(nullptr, PINWizard::ChangePin)), QStringList({current, fresh, again}));
        QCOMPARE(titles(PINWizard(nullptr, PINWizard::Reset)), QStringList({QStringLiteral("登录密码验证"), fresh, again}));

        PINWizard wizard(nullptr, PINWizard::Reset);
        QCOMPARE(wizard.windowTitle(), QStringLiteral("端对端加密"));
        QCOMPARE(wizard.size(), QSize(486, 283));
        auto *pwd = qobject_cast<AccountPwdWizardPage *>(wizard.page(wizard.pageIds().first()));
        QCOMPARE(pwd->subTitle(), QStringLiteral("请输入当前帐号登录密码"));
        QCOMPARE(pwd->edit()->echoMode(), QLineEdit::Password);
        auto *pin = qobject_cast<PINPage *>(wizard.page(wizard.pageIds().last()));
        QCOMPARE(pin->index(), 2);
        QCOMPARE(pin->subTitle(), again);
        QCOMPARE(pin->edit()->echoMode(), QLineEdit::Password);
    }

    void resultMapHoldsTheEnteredValues()
    {
        BoxDriver boxes;
        WizardDriver driver;
        QCOMPARE(runWizard(PINWizard::Unlock, {QStringLiteral("1111")}, driver).toMap(),
                 QVariantMap({{QStringLiteral("last_pin"), QStringLiteral("1111")}}));
        QCOMPARE(runWizard(PINWizard::Activate, {QStringLiteral("222222"), QStringLiteral("222222")}, driver).toMap(),
                 QVariantMap({{QStringLiteral("new_pin"), QStringLiteral("222222")}}));
        QCOMPARE(runWizard(PINWizard::ChangePin, {QStringLiteral("1111"), QStringLiteral("333333"), QStringLiteral("333333")},
                           driver)
                     .toMap(),
                 QVariantMap({{QStringLiteral("last_pin"), QStringLiteral("1111")},
                              {QStringLiteral("new_pin"), QStringLiteral("333333")}}));
        QCOMPARE(runWizard(PINWizard::Reset, {QStringLiteral("secret pw"), QStringLiteral("444444"), QStringLiteral("444444")},
                           driver)
                     .toMap(),
                 QVariantMap({{QStringLiteral("pwd"), QStringLiteral("secret pw")},
                              {QStringLiteral("new_pin"), QStringLiteral("444444")}}));
        QVERIFY(boxes.seen().isEmpty());
        QCOMPARE(driver.cancelled(), 0);

        // Cancelled: no result.
        QVERIFY(!runWizard(PINWizard::Activate, {QStringLiteral("5555")}, driver).isValid());
        QCOMPARE(driver.cancelled(), 1);
    }

    void emptyEntriesAreRefusedSilently()
    {
        BoxDriver boxes;
        WizardDriver driver;
        // Each empty entry keeps the page; the next answer is typed into the same page.
        QCOMPARE(runWizard(PINWizard::Reset, {QString(), QStringLiteral("pw"), QString(), QStringLiteral("666666"),
                                              QString(), QStringLiteral("666666")},
                           driver)
                     .toMap()
                     .value(QStringLiteral("new_pin")),
                 QVariant(QStringLiteral("666666")));
        QCOMPARE(driver.pages(), QStringList({QStringLiteral("3:登录密码验证"), QStringLiteral("3:登录密码验证"),
                                              QStringLiteral("3:新的PIN"), QStringLiteral("3:新的PIN"),
                                              QStringLiteral("3:再次输入新的加密PIN"),
                                              QStringLiteral("3:再次输入新的加密PIN")}));
        QVERIFY(boxes.seen().isEmpty());
    }

    // A new PIN has at least six characters (a current shorter one is still accepted),
    // differs from the current one and is repeated.
    void newPinRules()
    {
        BoxDriver boxes;
        WizardDriver driver;
        const QString same = QStringLiteral("不能和上一个PIN相同");
        const QString differs = QStringLiteral("和上一次的PIN不相同");
        const QVariantMap result =
            runWizard(PINWizard::ChangePin,
                      {QStringLiteral("1234"), QStringLiteral("12345"), QStringLiteral("五六七八九"),
                       QStringLiteral("😀😀😀"), QStringLiteral("567890"), QStringLiteral("567891"), QStringLiteral("567890")},
                      driver)
                .toMap();
        const QString tooShort = PINPage::tooShortText();
        QCOMPARE(boxes.seen(), QStringList({tooShort, tooShort, tooShort, differs}));
        QCOMPARE(result.value(QStringLiteral("last_pin")).toString(), QStringLiteral("1234"));
        QCOMPARE(result.value(QStringLiteral("new_pin")).toString(), QStringLiteral("567890"));
        QCOMPARE(driver.pages().size(), 7);

        boxes.clear();
        QVERIFY(runWizard(PINWizard::ChangePin,
                          {QStringLiteral("123456"), QStringLiteral("123456"), QStringLiteral("654321"),
                           QStringLiteral("654321")},
                          driver)
                    .toMap()
                    .contains(QStringLiteral("new_pin")));
        QCOMPARE(boxes.seen(), QStringList({same}));

        // Without a current-PIN page there is nothing to differ from; the length still counts.
        boxes.clear();
        QVERIFY(runWizard(PINWizard::Reset,
                          {QStringLiteral("pw"), QStringLiteral("1234"), QStringLiteral("123456"), QStringLiteral("123456")},
                          driver)
                    .toMap()
                    .contains(QStringLiteral("new_pin")));
        QCOMPARE(boxes.seen(), QStringList({PINPage::tooShortText()}));
    }

    void keyRequestsNeedASignedInUserButNoKey()
    {
        clipUtils::removeUserToken();
        CRequestZeroGet get;
        QSignalSpy spy(&get, &CBaseRequest::responseData);
        get.start();
        QCOMPARE(spy.count(), 1);
        QVERIFY(!spy.first().at(1).isValid());
        QVERIFY(!get.reply());

        clipUtils::settings()->setValue(QLatin1String(Zorvel::Key::UserToken), QStringLiteral("token"));
        QVERIFY(!ZeroManager::instance()->hasKey());
        CRequestZeroGet signedIn;
        QVERIFY(signedIn.canContinue());
        signedIn.setBaseUrl(QStringLiteral("https://127.0.0.1:1/api/"));
        signedIn.buildUrl();
        QVERIFY(signedIn.url().startsWith(QLatin1String("https://127.0.0.1:1/api/key/?")));
        QVERIFY(signedIn.url().endsWith(QLatin1String("&user_token=token")));
        QCOMPARE(signedIn.method(), QStringLiteral("GET"));
        QCOMPARE(CRequestZeroPush().method(), QStringLiteral("PUT"));
        QCOMPARE(CRequestZeroModify().method(), QStringLiteral("POST"));
        QCOMPARE(CRequestZeroRevert().path(), QStringLiteral("revert_key/"));
    }

    void bodiesCarryHashesNeverSecrets()
    {
        ZeroManager *zero = ZeroManager::instance();
        const QVariantMap dictionary = zero->createKey(QStringLiteral("old pin"));
        QVERIFY(!dictionary.isEmpty());

        CRequestZeroPush push;
        push.setKeyDict(dictionary);
        QCOMPARE(bodyOf(push).toVariantMap(), QVariantMap({{QStringLiteral("key_dict"), dictionary}}));

        CRequestZeroModify modify;
        modify.setKeyDict(dictionary);
        const QByteArray salt = QByteArray::fromHex(dictionary.value(QStringLiteral("cipher_hash")).toString().left(32).toLatin1());
        const QString proof = zero->hashText(salt, QStringLiteral("old pin"));
        QCOMPARE(QByteArray::fromBase64(proof.toLatin1()).size(), 32);
        modify.setLastPwdHash(proof);
        const QJsonObject modifyBody = bodyOf(modify);
        QCOMPARE(modifyBody.value(QStringLiteral("last_pwd_hash")).toString(), proof);
        QVERIFY(!modify.body().contains("old pin"));

        // The reset seals the password's MD5 text to the service's key.
        unsigned char publicKey[crypto_box_PUBLICKEYBYTES];
        unsigned char secretKey[crypto_box_SECRETKEYBYTES];
        crypto_box_keypair(publicKey, secretKey);
        const QString password = QStringLiteral("账户 password");
        CRequestZeroRevert reset;
        reset.setKeyDict(dictionary);
        reset.setPassword(password);
        clipUtils::settings()->remove(QLatin1String(Zorvel::Key::ServerPublicKey));
        QVERIFY(!bodyOf(reset).contains(QStringLiteral("pwd_hash_cipher")));

        clipUtils::settings()->setValue(QLatin1String(Zorvel::Key::ServerPublicKey),
                                        QByteArray(reinterpret_cast<const char *>(publicKey), sizeof publicKey));
        reset.setPassword(password); // each body build uses the password up
        const QJsonObject resetBody = bodyOf(reset);
        QVERIFY(reset.password().isEmpty());
        QCOMPARE(resetBody.value(QStringLiteral("key_dict")).toObject().toVariantMap(), dictionary);
        QVERIFY(!reset.body().contains(password.toUtf8()));
        const QByteArray sealed = QByteArray::fromBase64(resetBody.value(QStringLiteral("pwd_hash_cipher")).toString().toLatin1());
        QVERIFY(sealed.size() > int(crypto_box_SEALBYTES));
        QByteArray opened(sealed.size() - int(crypto_box_SEALBYTES), '\0');
        QCOMPARE(crypto_box_seal_open(reinterpret_cast<unsigned char *>(opened.data()),
                                      reinterpret_cast<const unsigned char *>(sealed.constData()), sealed.size(), publicKey,
                                      secretKey),
                 0);
        QCOMPARE(QString::fromLatin1(opened), clipUtils::md5Hex(password.toUtf8()));
        QVERIFY(!reset.body().contains(opened));
    }
};

ZORVEL_TEST_MAIN(TestPINWizard)
#include "tst_PINWizard.moc"
