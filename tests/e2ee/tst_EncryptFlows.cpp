// The encryption window's flows against the local service. Another device of the
// account is this one after its keys are cleared: the service's pair is all it has.
// Wizards and message boxes are answered by timers.
#include "support/TestMain.h"
#include "EarlierWrap.h"
#include "WizardDriver.h"
#include "net/NetFixture.h"

#include "desktop/EncryptWindow.h"
#include "desktop/MenuManager.h"
#include "net/CRequestZeroGet.h"
#include "net/CRequestZeroPush.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

using namespace NetFixture;

namespace {

const QString kActivated = QStringLiteral(
    "端对端加密激活成功! 请牢记新的加密的PIN! 否则你只能销毁重置加密档案，但那会清空您的线上数据, 包括收藏内容！");
const QString kWrongPin = QStringLiteral(
    "PIN错误,如果你忘记了PIN,只能选择“销毁并重置加密档案”，销毁重置加密档案会清空您的线上数据, 包括收藏内容！");
const QString kWrongCurrentPin = QStringLiteral(
    "您输入的当前PIN不正确,如果您忘记了当前的PIN, 只能选择‘重置加密档案’, 请记住, 重置加密档案会清空线上所有数据, 包括收藏的数据");
const QString kResetWarning = "销毁并重建加密档案会清空线上所有加密内容，包括收藏！请谨慎操作！";
const QString kWrongPassword =
    "您输入的帐号登录密码有误, 如果您忘记了登录密码, 请在登录页面选择忘记密码来重置登录密码";
const QString kResetDone =
    "加密档案重置成功! 同时您的线上数据已经清空, 包括收藏内容, 请牢记新的加密的PIN!";

} // namespace

class TestEncryptFlows : public QObject
{
    Q_OBJECT

    EncryptWindow *window = nullptr;
    QString email;
    const QString password = "flow password";
    History first;

    template <typename T>
    T *child(const char *name) { return window->findChild<T *>(QLatin1String(name)); }

    // Waits for the flow started by a click to end in an idle window.
    bool settled(const BoxDriver &driver, int expectedBoxes)
    {
        return QTest::qWaitFor(
            [&] {
                return !window->isBusy() && window->isEnabled() && !QApplication::activeModalWidget()
                    && driver.seen().size() >= expectedBoxes;
            },
            60000);
    }

    static bool onService(const History &h) { return !serviceCopy(h.file_hash()).isEmpty(); }
    // The key dictionary the service holds.
    static QVariantMap serviceKey() { return run(new CRequestZeroGet).map().value("cipher").toMap(); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(DBFetcher::instance()->isOpen());
        email = uniqueEmail();
        QCOMPARE(signUp(email, password).code(), 0);
        MenuManager::instance(); // the tray menu follows the key, as in the program
        window = EncryptWindow::instance();
        window->show();
    }

    void activateOnTheFirstDevice()
    {
        QCOMPARE(child<QLabel>("label_hash")->text(), QString("指纹（空）"));
        QCOMPARE(child<QPushButton>("button_active")->text(), QString("激活端对端加密"));
        QVERIFY(child<QLabel>("label_alert")->isVisibleTo(window));

        WizardDriver driver({"123456", "123456"});
        child<QPushButton>("button_active")->click();
        QVERIFY(window->isBusy() && !window->isEnabled());
        window->activeClicked(); // ignored while busy
        QVERIFY(settled(driver, 1));
        QCOMPARE(driver.seen(), QStringList({kActivated}));
        QCOMPARE(driver.pages(), QStringList({"1:新的PIN", "1:再次输入新的加密PIN"}));

        ZeroManager *zero = ZeroManager::instance();
        QVERIFY(zero->hasKey());
        QCOMPARE(child<QLabel>("label_hash")->text(), "指纹: " + zero->keyHash());
        QCOMPARE(child<QPushButton>("button_active")->text(), QString("修改PIN"));
        QVERIFY(!child<QLabel>("label_alert")->isVisibleTo(window));

        first = captureText("第一台设备的文字");
        QVERIFY(pushPending());
        QVERIFY(NetFixture::stored(first.file_hash()).history_id() > 0);
    }

    void anotherDeviceUnlocksWithTheRightPinOnly()
    {
        ZeroManager *zero = ZeroManager::instance();
        const QString keyHash = zero->keyHash();
        zero->clearAllKeys();
        window->refresh();

        WizardDriver driver({"999999"});
        child<QPushButton>("button_active")->click();
        QVERIFY(settled(driver, 1));
        QCOMPARE(driver.seen(), QStringList({kWrongPin}));
        QCOMPARE(driver.pages(), QStringList({"0:当前加密PIN"}));
        QVERIFY(!zero->hasKey());

        driver.clear();
        driver.setAnswers({"123456"});
        child<QPushButton>("button_active")->click();
        QVERIFY(settled(driver, 1));
        QCOMPARE(driver.seen(), QStringList({kActivated}));
        QCOMPARE(zero->keyHash(), keyHash);
    }

    void changePinNeedsTheCurrentOne()
    {
        ZeroManager *zero = ZeroManager::instance();
        const QString keyHash = zero->keyHash();
        const QString cipherHash = zero->cipherHash();

        WizardDriver driver({"000000", "567890", "567890"});
        child<QPushButton>("button_active")->click();
        QVERIFY(settled(driver, 1));
        QCOMPARE(driver.pages().first(), QString("2:当前加密PIN"));
        QCOMPARE(driver.seen(), QStringList({kWrongCurrentPin}));
        QCOMPARE(zero->cipherHash(), cipherHash);

        driver.clear();
        driver.setAnswers({"123456", "567890", "567890"});
        child<QPushButton>("button_active")->click();
        QTRY_VERIFY_WITH_TIMEOUT(zero->cipherHash() != cipherHash, 60000);
        QVERIFY(settled(driver, 0));
        QVERIFY(driver.seen().isEmpty());
        QCOMPARE(zero->keyHash(), keyHash);
        QCOMPARE(serviceKey().value("cipher_hash").toString(), zero->cipherHash());
    }

    void resetNeedsTheAccountPasswordAndClearsOnlineData()
    {
        ZeroManager *zero = ZeroManager::instance();
        const QString oldKey = zero->keyHash();
        QVERIFY(onService(first));

        WizardDriver driver({"not my password", "432100", "432100"});
        child<QPushButton>("button_revert")->click();
        QVERIFY(settled(driver, 2));
        QCOMPARE(driver.seen(), QStringList({kResetWarning, kWrongPassword}));
        QCOMPARE(driver.pages().first(), QString("3:登录密码验证"));
        QCOMPARE(zero->keyHash(), oldKey);
        QVERIFY(onService(first));

        driver.clear();
        driver.setAnswers({password, "432100", "432100"});
        child<QPushButton>("button_revert")->click();
        QVERIFY(settled(driver, 2));
        QCOMPARE(driver.seen(), QStringList({kResetWarning, kResetDone}));
        QVERIFY(zero->keyHash() != oldKey);
        QCOMPARE(child<QLabel>("label_hash")->text(), "指纹: " + zero->keyHash());

        // Online data under the old key is gone; the local row waits to go up again.
        QVERIFY(!onService(first));
        const History local = NetFixture::stored(first.file_hash());
        QCOMPARE(local.history_id(), 0LL);
        QVERIFY(local.key_hash().isEmpty());
    }

    // A key the service holds under the first wrapping construction still unlocks,
    // and the unlock stores it anew under the current one.
    void earlierWrapIsReplacedOnUnlock()
    {
        ZeroManager *zero = ZeroManager::instance();
        const QString keyHash = zero->keyHash();
        const QByteArray key =
            clipUtils::settings()->value(zero->storageKey()).toMap().value("keyData").toByteArray().left(32);
        const QVariantMap earlier = earlierWrap(serviceKey(), key, "432100");
        auto *push = new CRequestZeroPush;
        push->setKeyDict(earlier);
        QCOMPARE(run(push).code(), 0);
        zero->clearAllKeys();
        window->refresh();

        WizardDriver driver({"432100"});
        child<QPushButton>("button_active")->click();
        QVERIFY(settled(driver, 1));
        QCOMPARE(driver.seen(), QStringList({kActivated}));
        QCOMPARE(zero->keyHash(), keyHash);
        QVERIFY(zero->cipherHash() != earlier.value("cipher_hash").toString());
        QCOMPARE(serviceKey().value("cipher_hash").toString(), zero->cipherHash());
    }
};

ZORVEL_TEST_MAIN(TestEncryptFlows)
#include "tst_EncryptFlows.moc"
