// The encryption window's flows against the local service with two devices of one
// account: this process is the first, e2ee_peer (in a home of its own, kept
// between its runs) the second. Wizards and message boxes are answered by timers.
#include "support/TestMain.h"
#include "EarlierWrap.h"
#include "WizardDriver.h"
#include "net/BoxDriver.h"
#include "net/NetFixture.h"

#include "desktop/MenuManager.h"
#include "e2ee/CRequestZeroGet.h"
#include "e2ee/CRequestZeroPush.h"
#include "e2ee/EncryptWindow.h"
#include "net/CRequestPushGet.h"
#include "net/HistoryService.h"
#include "net/SyncHandOver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace NetFixture;

namespace {

const QString kActivated = QStringLiteral(
    "端对端加密激活成功! 请牢记新的加密的PIN! 否则你只能销毁重置加密档案，但那会清空您的线上数据, 包括收藏内容！");
const QString kWrongPin = QStringLiteral(
    "PIN错误,如果你忘记了PIN,只能选择“销毁并重置加密档案”，销毁重置加密档案会清空您的线上数据, 包括收藏内容！");
const QString kWrongCurrentPin = QStringLiteral(
    "您输入的当前PIN不正确,如果您忘记了当前的PIN, 只能选择‘重置加密档案’, 请记住, 重置加密档案会清空线上所有数据, 包括收藏的数据");
const QString kResetWarning = QStringLiteral("销毁并重建加密档案会清空线上所有加密内容，包括收藏！请谨慎操作！");
const QString kWrongPassword =
    QStringLiteral("您输入的帐号登录密码有误, 如果您忘记了登录密码, 请在登录页面选择忘记密码来重置登录密码");
const QString kResetDone =
    QStringLiteral("加密档案重置成功! 同时您的线上数据已经清空, 包括收藏内容, 请牢记新的加密的PIN!");
const QString kActivateItem = QStringLiteral("激活端对端加密");

bool menuHas(const QString &text)
{
    for (QAction *a : MenuManager::instance()->menu()->actions())
        if (a->text() == text)
            return true;
    return false;
}

QStringList strings(const QJsonValue &array)
{
    QStringList out;
    for (const QJsonValue &v : array.toArray())
        out << v.toString();
    return out;
}

QJsonObject row(const QJsonObject &step, const QString &hash)
{
    for (const QJsonValue &v : step.value(QStringLiteral("rows")).toArray())
        if (v.toObject().value(QStringLiteral("file_hash")).toString() == hash)
            return v.toObject();
    return QJsonObject();
}

} // namespace

class TestEncryptFlows : public QObject
{
    Q_OBJECT

    EncryptWindow *window = nullptr;
    QString email;
    const QString password = QStringLiteral("flow password");
    QTemporaryDir homeB;
    History first;
    History second;

    template <typename T>
    T *child(const char *name) { return window->findChild<T *>(QLatin1String(name)); }

    // Runs the second device's steps in its own home; one object per step.
    QJsonArray peer(const QStringList &steps)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), homeB.path());
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            env.insert(QLatin1String(name), homeB.path() + QLatin1Char('/') + QLatin1String(name));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), homeB.path() + QStringLiteral("/runtime"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=false"));
        QDir(homeB.path()).mkpath(QStringLiteral("runtime"));
        QFile::setPermissions(homeB.path() + QStringLiteral("/runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                                              | QFileDevice::ExeOwner);
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(E2EE_PEER), QStringList{email, password} + steps);
        if (!p.waitForFinished(180000) || p.exitCode() != 0)
            qWarning("peer failed (%d): %s", p.exitCode(), p.readAllStandardError().constData());
        return QJsonDocument::fromJson(p.readAllStandardOutput()).array();
    }

    // Waits for the flow started by a click to end in an idle window.
    bool settled(const BoxDriver &boxes, int expectedBoxes)
    {
        return QTest::qWaitFor(
            [&] {
                return !window->isBusy() && window->isEnabled() && !QApplication::activeModalWidget()
                    && boxes.seen().size() >= expectedBoxes;
            },
            60000);
    }

    bool onService(const History &h)
    {
        History probe;
        probe.setFileHash(h.file_hash());
        auto *get = new CRequestPushGet;
        get->setHistory(probe);
        return run(get).code() == 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(DBFetcher::instance()->isOpen());
        QVERIFY(homeB.isValid());
        email = uniqueEmail();
        QCOMPARE(signUp(email, password).code(), 0);
        QVERIFY(clipUtils::hasUserToken());
        MenuManager::instance();
        window = EncryptWindow::instance();
        window->show();
        QCOMPARE(window->windowTitle(), QStringLiteral("端对端加密"));
        QCOMPARE(window->size(), QSize(576, 248));
    }

    void activateOnTheFirstDevice()
    {
        QVERIFY(menuHas(kActivateItem));
        QCOMPARE(child<QLabel>("label_hash")->text(), QStringLiteral("指纹（空）"));
        QCOMPARE(child<QPushButton>("button_active")->text(), kActivateItem);
        QVERIFY(child<QLabel>("label_alert")->isVisibleTo(window));

        BoxDriver boxes;
        WizardDriver driver({QStringLiteral("123456"), QStringLiteral("123456")});
        child<QPushButton>("button_active")->click();
        QVERIFY(window->isBusy());
        QVERIFY(!window->isEnabled());
        window->activeClicked(); // ignored while busy
        QVERIFY(settled(boxes, 1));
        QCOMPARE(boxes.seen(), QStringList({kActivated}));
        QCOMPARE(driver.pages(), QStringList({QStringLiteral("1:新的PIN"), QStringLiteral("1:再次输入新的加密PIN")}));

        ZeroManager *zero = ZeroManager::instance();
        QVERIFY(zero->hasKey());
        QCOMPARE(child<QLabel>("label_hash")->text(), QStringLiteral("指纹: ") + zero->keyHash());
        QCOMPARE(child<QPushButton>("button_active")->text(), QStringLiteral("修改PIN"));
        QVERIFY(!child<QLabel>("label_alert")->isVisibleTo(window));
        QTRY_VERIFY(!menuHas(kActivateItem));

        const Outcome stored = run(new CRequestZeroGet);
        QCOMPARE(stored.code(), 0);
        QCOMPARE(stored.map().value(QStringLiteral("cipher")).toMap().value(QStringLiteral("key_hash")).toString(),
                 zero->keyHash());

        first = captureText(QStringLiteral("第一台设备的文字"));
        second = captureText(QStringLiteral("second text from A"));
        QSignalSpy handOver(SyncHandOver::instance(), &SyncHandOver::fileTransferRequested);
        HistoryService::instance()->pushPending();
        QVERIFY(handOver.count() > 0 || handOver.wait(30000));
        QVERIFY(stored.hadReply);
        QVERIFY(NetFixture::stored(second.file_hash()).history_id() > 0);
    }

    void secondDeviceUnlocksWithTheRightPinOnly()
    {
        const QJsonArray steps = peer({QStringLiteral("signin"), QStringLiteral("unlock:999999"),
                                       QStringLiteral("unlock:123456"), QStringLiteral("pull")});
        QCOMPARE(steps.size(), 4);
        const QJsonObject wrong = steps.at(1).toObject();
        QCOMPARE(strings(wrong.value(QStringLiteral("boxes"))), QStringList({kWrongPin}));
        QVERIFY(!wrong.value(QStringLiteral("has_key")).toBool());

        const QJsonObject right = steps.at(2).toObject();
        QCOMPARE(strings(right.value(QStringLiteral("boxes"))), QStringList({kActivated}));
        QCOMPARE(right.value(QStringLiteral("key_hash")).toString(), ZeroManager::instance()->keyHash());

        const QJsonObject pulled = steps.at(3).toObject();
        for (const History &h : {first, second}) {
            const QJsonObject got = row(pulled, h.file_hash());
            QCOMPARE(got.value(QStringLiteral("content")).toString(), h.content());
            QCOMPARE(got.value(QStringLiteral("file")).toString(), h.content());
        }
    }

    void changePinNeedsTheCurrentOne()
    {
        ZeroManager *zero = ZeroManager::instance();
        const QString keyHash = zero->keyHash();
        const QString cipherHash = zero->cipherHash();

        BoxDriver boxes;
        WizardDriver driver({QStringLiteral("000000"), QStringLiteral("567890"), QStringLiteral("567890")});
        child<QPushButton>("button_active")->click();
        QVERIFY(settled(boxes, 1));
        QCOMPARE(driver.pages().first(), QStringLiteral("2:当前加密PIN"));
        QCOMPARE(boxes.seen(), QStringList({kWrongCurrentPin}));
        QCOMPARE(zero->cipherHash(), cipherHash);

        boxes.clear();
        driver.setAnswers({QStringLiteral("123456"), QStringLiteral("567890"), QStringLiteral("567890")});
        child<QPushButton>("button_active")->click();
        QTRY_VERIFY_WITH_TIMEOUT(zero->cipherHash() != cipherHash, 60000);
        QVERIFY(settled(boxes, 0));
        QVERIFY(boxes.seen().isEmpty());
        QCOMPARE(zero->keyHash(), keyHash);
        const Outcome stored = run(new CRequestZeroGet);
        QCOMPARE(stored.map().value(QStringLiteral("cipher")).toMap().value(QStringLiteral("cipher_hash")).toString(),
                 zero->cipherHash());
    }

    void secondDeviceMustUnlockAgainWithTheNewPin()
    {
        const QJsonArray steps =
            peer({QStringLiteral("pull"), QStringLiteral("unlock:123456"), QStringLiteral("unlock:567890")});
        QCOMPARE(steps.size(), 3);
        const QJsonObject pulled = steps.at(0).toObject();
        QVERIFY(!pulled.value(QStringLiteral("has_key")).toBool());
        // Only the wrapping changed: the entries stay as they were.
        QVERIFY(row(pulled, first.file_hash()).value(QStringLiteral("history_id")).toVariant().toLongLong() > 0);
        QCOMPARE(strings(steps.at(1).toObject().value(QStringLiteral("boxes"))), QStringList({kWrongPin}));
        QCOMPARE(strings(steps.at(2).toObject().value(QStringLiteral("boxes"))), QStringList({kActivated}));
        QCOMPARE(steps.at(2).toObject().value(QStringLiteral("key_hash")).toString(), ZeroManager::instance()->keyHash());
    }

    void resetNeedsTheAccountPasswordAndClearsOnlineData()
    {
        ZeroManager *zero = ZeroManager::instance();
        const QString oldKey = zero->keyHash();
        QVERIFY(onService(first));

        BoxDriver boxes;
        WizardDriver driver({QStringLiteral("not my password"), QStringLiteral("432100"), QStringLiteral("432100")});
        child<QPushButton>("button_revert")->click();
        QVERIFY(settled(boxes, 2));
        QCOMPARE(boxes.seen(), QStringList({kResetWarning, kWrongPassword}));
        QCOMPARE(driver.pages().first(), QStringLiteral("3:登录密码验证"));
        QCOMPARE(zero->keyHash(), oldKey);
        QVERIFY(onService(first));

        boxes.clear();
        driver.setAnswers({password, QStringLiteral("432100"), QStringLiteral("432100")});
        child<QPushButton>("button_revert")->click();
        QVERIFY(settled(boxes, 2));
        QCOMPARE(boxes.seen(), QStringList({kResetWarning, kResetDone}));
        QVERIFY(!zero->keyHash().isEmpty());
        QVERIFY(zero->keyHash() != oldKey);
        QCOMPARE(child<QLabel>("label_hash")->text(), QStringLiteral("指纹: ") + zero->keyHash());

        // Online data under the old key is gone; the local rows wait to go up again.
        QVERIFY(!onService(first));
        QVERIFY(!onService(second));
        for (const History &h : {first, second}) {
            const History local = NetFixture::stored(h.file_hash());
            QCOMPARE(local.history_id(), 0LL);
            QVERIFY(local.key_hash().isEmpty());
        }

        // The other device loses its key and its rows of the old key; the new PIN opens the new key.
        const QJsonArray steps = peer({QStringLiteral("pull"), QStringLiteral("unlock:432100")});
        QCOMPARE(steps.size(), 2);
        const QJsonObject pulled = steps.at(0).toObject();
        QVERIFY(!pulled.value(QStringLiteral("has_key")).toBool());
        QCOMPARE(row(pulled, first.file_hash()).value(QStringLiteral("history_id")).toVariant().toLongLong(), 0LL);
        QCOMPARE(strings(steps.at(1).toObject().value(QStringLiteral("boxes"))), QStringList({kActivated}));
        QCOMPARE(steps.at(1).toObject().value(QStringLiteral("key_hash")).toString(), zero->keyHash());
    }

    // A key the service holds under the first wrapping construction still unlocks,
    // and the unlock stores it anew under the current one.
    void earlierWrapIsReplacedOnUnlock()
    {
        ZeroManager *zero = ZeroManager::instance();
        const QString keyHash = zero->keyHash();
        const QByteArray key =
            clipUtils::settings()->value(zero->storageKey()).toMap().value(QStringLiteral("keyData")).toByteArray().left(32);
        const QVariantMap earlier =
            earlierWrap(run(new CRequestZeroGet).map().value(QStringLiteral("cipher")).toMap(), key, "432100");
        auto *push = new CRequestZeroPush;
        push->setKeyDict(earlier);
        QCOMPARE(run(push).code(), 0);
        zero->clearAllKeys();
        window->refresh();

        BoxDriver boxes;
        WizardDriver driver({QStringLiteral("432100")});
        child<QPushButton>("button_active")->click();
        QVERIFY(settled(boxes, 1));
        QCOMPARE(boxes.seen(), QStringList({kActivated}));
        QCOMPARE(zero->keyHash(), keyHash);
        QVERIFY(zero->cipherHash() != earlier.value(QStringLiteral("cipher_hash")).toString());
        const Outcome stored = run(new CRequestZeroGet);
        QCOMPARE(stored.map().value(QStringLiteral("cipher")).toMap().value(QStringLiteral("cipher_hash")).toString(),
                 zero->cipherHash());
    }
};

ZORVEL_TEST_MAIN(TestEncryptFlows)
#include "tst_EncryptFlows.moc"
