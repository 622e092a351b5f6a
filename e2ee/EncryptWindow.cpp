#include "e2ee/EncryptWindow.h"

#include "app/clipUtils.h"
#include "e2ee/CRequestZeroGet.h"
#include "e2ee/CRequestZeroModify.h"
#include "e2ee/CRequestZeroPush.h"
#include "e2ee/CRequestZeroRevert.h"
#include "e2ee/KeyNotice.h"
#include "e2ee/PINWizard.h"
#include "e2ee/ZeroManager.h"
#include "net/CRequestSyncPublicKey.h"
#include "store/HistoryQueries.h"
#include "ui_EncryptWindow.h"

#include <QDesktopServices>
#include <QNetworkReply>
#include <QPointer>
#include <QUrl>

namespace {

// Service codes of the key endpoints.
constexpr int kNoKeyStored = 404;
constexpr int kWrongPin = 401;
constexpr int kWrongPassword = -5;

const char *const kActivated = QT_TRANSLATE_NOOP(
    "EncryptWindow", "端对端加密激活成功! 请牢记新的加密的PIN! 否则你只能销毁重置加密档案，但那会清空您的线上数据, 包括收藏内容！");
const char *const kUnknown = QT_TRANSLATE_NOOP("EncryptWindow", "未知错误，请稍候重试");
const char *const kWrongCurrentPin =
    QT_TRANSLATE_NOOP("EncryptWindow", "您输入的当前PIN不正确,如果您忘记了当前的PIN, 只能选择‘重置加密档案’, "
                                       "请记住, 重置加密档案会清空线上所有数据, 包括收藏的数据");

int replyCode(const QVariant &var)
{
    return var.toMap().value(QStringLiteral("code")).toInt();
}

} // namespace

EncryptWindow::EncryptWindow()
    : QMainWindow(nullptr)
    , ui(new Ui::EncryptWindow)
{
    ui->setupUi(this);
    resize(576, 248);
    connect(ui->button_active, &QPushButton::clicked, this, &EncryptWindow::activeClicked);
    connect(ui->button_revert, &QPushButton::clicked, this, &EncryptWindow::revertClicked);
    connect(ui->button_help, &QPushButton::clicked, this, &EncryptWindow::helpClicked);
    connect(ZeroManager::instance(), &ZeroManager::keysChanged, this, &EncryptWindow::refresh);
    refresh();
}

EncryptWindow::~EncryptWindow()
{
    delete ui;
}

void EncryptWindow::refresh()
{
    ZeroManager *zero = ZeroManager::instance();
    const QString hash = zero->keyHash();
    if (hash.isEmpty()) {
        ui->label_hash->setText(tr("指纹（空）"));
        ui->button_active->setText(tr("激活端对端加密"));
        ui->label_alert->show();
    } else {
        ui->label_hash->setText(tr("指纹: %1").arg(hash));
        ui->button_active->setText(tr("修改PIN"));
        ui->label_alert->hide();
    }
    Q_EMIT zero->menuUpdateRequested();
}

void EncryptWindow::setBusy(bool busy)
{
    m_busy = busy;
    window()->setEnabled(!busy);
}

void EncryptWindow::helpClicked()
{
    QDesktopServices::openUrl(QUrl(clipUtils::e2eePageUrl()));
}

// --- wizards ---

void EncryptWindow::startWizard(int mode)
{
    if (m_busy)
        return;
    setBusy(true);
    showWizard(mode);
}

void EncryptWindow::showWizard(int mode)
{
    // The previous wizard may be the one whose acceptance led here.
    if (m_wizard)
        m_wizard->deleteLater();
    m_wizard = new PINWizard(this, mode);
    // A child window of a disabled window starts disabled itself.
    m_wizard->setEnabled(true);
    // Queued: the flow continues once the wizard has finished closing.
    switch (mode) {
    case PINWizard::Unlock:
        connect(m_wizard, &PINWizard::resultHandler, this, &EncryptWindow::unlockEntered, Qt::QueuedConnection);
        break;
    case PINWizard::Activate:
        connect(m_wizard, &PINWizard::resultHandler, this, &EncryptWindow::activationEntered, Qt::QueuedConnection);
        break;
    case PINWizard::ChangePin:
        connect(m_wizard, &PINWizard::resultHandler, this, &EncryptWindow::changeEntered, Qt::QueuedConnection);
        break;
    case PINWizard::Reset:
        connect(m_wizard, &PINWizard::resultHandler, this, &EncryptWindow::resetEntered, Qt::QueuedConnection);
        break;
    }
    connect(m_wizard, &QDialog::rejected, this, &EncryptWindow::wizardRejected);
    m_wizard->setWindowModality(Qt::WindowModal);
    m_wizard->show();
}

void EncryptWindow::wizardRejected()
{
    setBusy(false);
}

// --- shared reply handling ---

bool EncryptWindow::replyUsable(CBaseRequest *request, const QVariant &var, bool moreFollows)
{
    QString failure;
    if (!request->reply())
        failure = tr("内部错误");
    else if (request->reply()->error() != QNetworkReply::NoError || request->httpStatus() != 200)
        failure = tr("网络错误, 请稍候重试");
    else if (!var.isValid())
        failure = tr(kUnknown); // not a JSON object: never taken for success
    delete request;
    if (!failure.isEmpty() || !moreFollows)
        setBusy(false);
    if (!failure.isEmpty()) {
        showKeyNotice(this, failure);
        return false;
    }
    return true;
}

void EncryptWindow::finishWith(const QString &text)
{
    setBusy(false);
    showKeyNotice(this, text);
}

// --- activate or unlock ---

void EncryptWindow::activeClicked()
{
    if (!ZeroManager::instance()->keyHash().isEmpty()) {
        startWizard(PINWizard::ChangePin);
        return;
    }
    if (m_busy)
        return;
    setBusy(true);
    delete m_keyFetch;
    m_keyFetch = new CRequestZeroGet;
    connect(m_keyFetch, &CBaseRequest::responseData, this, &EncryptWindow::keyFetchFinish);
    m_keyFetch->start();
}

void EncryptWindow::keyFetchFinish(CBaseRequest *request, QVariant var)
{
    if (request == m_keyFetch)
        m_keyFetch = nullptr;
    if (!replyUsable(request, var, false))
        return;
    const int code = replyCode(var);
    const QVariantMap cipher = var.toMap().value(QStringLiteral("cipher")).toMap();
    if (code == kNoKeyStored) {
        startWizard(PINWizard::Activate);
    } else if (code == 0 && !cipher.isEmpty()) {
        m_fetchedKey = cipher;
        showWizard(PINWizard::Unlock);
    } else {
        showKeyNotice(this, tr(kUnknown));
    }
}

void EncryptWindow::unlockEntered(const QVariantMap &pins)
{
    // The unlock wizard runs with the window idle; the slow unwrap keeps it busy.
    setBusy(true);
    QPointer<EncryptWindow> self(this);
    ZeroManager::instance()->importKeyAsync(
        pins.value(QStringLiteral("last_pin")).toString(), m_fetchedKey, [self](bool imported) {
            if (self)
                self->unlockFinished(imported);
        });
}

void EncryptWindow::unlockFinished(bool imported)
{
    setBusy(false);
    if (imported) {
        m_fetchedKey.clear();
        showKeyNotice(this, tr(kActivated));
        refresh();
        // A wrap of the first construction was opened: store its replacement.
        const QVariantMap rewrapped = ZeroManager::instance()->pendingDictionary();
        if (!rewrapped.isEmpty() && rewrapped.value(QStringLiteral("key_hash")).toString()
                                        == ZeroManager::instance()->keyHash()) {
            setBusy(true);
            sendKeyPush(rewrapped, PushPurpose::Rewrap);
        }
        return;
    }
    qInfo("e2ee: the PIN did not unlock the account's key");
    showKeyNotice(this, tr("PIN错误,如果你忘记了PIN,只能选择“销毁并重置加密档案”，销毁重置加密档案会清空您的线上数据, "
                           "包括收藏内容！"));
    showWizard(PINWizard::Unlock);
}

void EncryptWindow::activationEntered(const QVariantMap &pins)
{
    QPointer<EncryptWindow> self(this);
    ZeroManager::instance()->createKeyAsync(pins.value(QStringLiteral("new_pin")).toString(),
                                            [self](const QVariantMap &dictionary) {
                                                if (!self)
                                                    return;
                                                if (dictionary.isEmpty()) {
                                                    qWarning("e2ee: no key could be made");
                                                    self->finishWith(tr("内部错误"));
                                                    return;
                                                }
                                                self->sendKeyPush(dictionary, PushPurpose::Activation);
                                            });
}

void EncryptWindow::sendKeyPush(const QVariantMap &dictionary, PushPurpose purpose)
{
    delete m_keyPush;
    m_keyPush = new CRequestZeroPush;
    m_pushPurpose = purpose;
    m_keyPush->setKeyDict(dictionary);
    connect(m_keyPush, &CBaseRequest::responseData, this, &EncryptWindow::keyPushFinish);
    m_keyPush->start();
}

void EncryptWindow::keyPushFinish(CBaseRequest *request, QVariant var)
{
    if (request == m_keyPush)
        m_keyPush = nullptr;
    if (m_pushPurpose == PushPurpose::Rewrap) {
        // Silent: the first wrap stays valid on the service until this one lands.
        const bool stored = request->reply() && request->reply()->error() == QNetworkReply::NoError
            && request->httpStatus() == 200 && var.isValid() && replyCode(var) == 0;
        delete request;
        setBusy(false);
        if (stored)
            ZeroManager::instance()->commitPendingKey();
        else
            qInfo("e2ee: the key wrapped anew was not stored (code %d); the first wrap stays", replyCode(var));
        return;
    }
    if (!replyUsable(request, var, false))
        return;
    if (replyCode(var) != 0) {
        qInfo("e2ee: the service refused the new key (code %d)", replyCode(var));
        showKeyNotice(this, tr(kUnknown));
        return;
    }
    ZeroManager::instance()->commitPendingKey();
    refresh();
    if (m_pushPurpose == PushPurpose::Activation)
        showKeyNotice(this, tr(kActivated));
}

// --- change PIN ---

void EncryptWindow::changeEntered(const QVariantMap &pins)
{
    QPointer<EncryptWindow> self(this);
    ZeroManager::instance()->changePinAsync(pins.value(QStringLiteral("last_pin")).toString(),
                                            pins.value(QStringLiteral("new_pin")).toString(),
                                            [self](const ZeroManager::PinChange &change) {
                                                if (self)
                                                    self->changePrepared(change);
                                            });
}

void EncryptWindow::changePrepared(const ZeroManager::PinChange &change)
{
    if (change.wrongPin) {
        // Checked against this device's wrap: nothing needs to reach the service.
        qInfo("e2ee: the current PIN does not open this device's key");
        finishWith(tr(kWrongCurrentPin));
        return;
    }
    if (change.dictionary.isEmpty()) {
        qWarning("e2ee: the key could not be wrapped under the new PIN");
        finishWith(tr("内部错误"));
        return;
    }
    if (change.earlierWrap) {
        // The service cannot check a proof against a wrap of the first construction;
        // the current PIN was checked here, and the same key is stored anew.
        sendKeyPush(change.dictionary, PushPurpose::PinChange);
        return;
    }
    delete m_keyModify;
    m_keyModify = new CRequestZeroModify;
    m_keyModify->setKeyDict(change.dictionary);
    m_keyModify->setLastPwdHash(change.lastPinHash);
    connect(m_keyModify, &CBaseRequest::responseData, this, &EncryptWindow::keyModifyFinish);
    m_keyModify->start();
}

void EncryptWindow::keyModifyFinish(CBaseRequest *request, QVariant var)
{
    if (request == m_keyModify)
        m_keyModify = nullptr;
    if (!replyUsable(request, var, false))
        return;
    const int code = replyCode(var);
    if (code == 0) {
        ZeroManager::instance()->commitPendingKey();
        refresh();
    } else if (code == kWrongPin) {
        showKeyNotice(this, tr(kWrongCurrentPin));
    } else {
        qInfo("e2ee: the service refused the PIN change (code %d)", code);
        showKeyNotice(this, tr(kUnknown));
    }
}

// --- destroy and reset ---

void EncryptWindow::revertClicked()
{
    if (m_busy)
        return;
    showKeyNotice(this, tr("销毁并重建加密档案会清空线上所有加密内容，包括收藏！请谨慎操作！"));
    startWizard(PINWizard::Reset);
}

void EncryptWindow::resetEntered(const QVariantMap &pins)
{
    m_resetEntries = pins;
    delete m_publicKeyFetch;
    m_publicKeyFetch = new CRequestSyncPublicKey;
    connect(m_publicKeyFetch, &CBaseRequest::responseData, this, &EncryptWindow::publicKeyFinish);
    m_publicKeyFetch->start();
}

void EncryptWindow::publicKeyFinish(CBaseRequest *request, QVariant var)
{
    if (request == m_publicKeyFetch)
        m_publicKeyFetch = nullptr;
    const bool usable = replyUsable(request, var, true);
    const QVariantMap entries = m_resetEntries;
    m_resetEntries.clear(); // holds the account password
    if (!usable)
        return;
    if (replyCode(var) != 0) {
        finishWith(tr(kUnknown));
        return;
    }
    QPointer<EncryptWindow> self(this);
    const QString password = entries.value(QStringLiteral("pwd")).toString();
    ZeroManager::instance()->createKeyAsync(
        entries.value(QStringLiteral("new_pin")).toString(), [self, password](const QVariantMap &dictionary) {
            if (!self)
                return;
            if (dictionary.isEmpty()) {
                qWarning("e2ee: no key could be made");
                self->finishWith(tr("内部错误"));
                return;
            }
            delete self->m_keyReset;
            self->m_keyReset = new CRequestZeroRevert;
            self->m_keyReset->setPassword(password);
            self->m_keyReset->setKeyDict(dictionary);
            connect(self->m_keyReset, &CBaseRequest::responseData, self.data(), &EncryptWindow::keyResetFinish);
            self->m_keyReset->start();
        });
}

void EncryptWindow::keyResetFinish(CBaseRequest *request, QVariant var)
{
    if (request == m_keyReset)
        m_keyReset = nullptr;
    if (!replyUsable(request, var, false))
        return;
    const int code = replyCode(var);
    if (code == 0) {
        ZeroManager *zero = ZeroManager::instance();
        zero->commitPendingKey();
        HistoryQueries::resetForKey(zero->keyHash());
        refresh();
        showKeyNotice(this, tr("加密档案重置成功! 同时您的线上数据已经清空, 包括收藏内容, 请牢记新的加密的PIN!"));
    } else if (code == kWrongPassword) {
        showKeyNotice(this, tr("您输入的帐号登录密码有误, 如果您忘记了登录密码, 请在登录页面选择忘记密码来重置登录密码"));
    } else {
        qInfo("e2ee: the service refused the key reset (code %d)", code);
        showKeyNotice(this, tr(kUnknown));
    }
}
