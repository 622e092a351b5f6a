#include "desktop/EncryptWindow.h"

#include "app/clipUtils.h"
#include "desktop/KeyNotice.h"
#include "desktop/PINWizard.h"
#include "e2ee/ZeroManager.h"
#include "ui_EncryptWindow.h"

#include <QDesktopServices>
#include <QUrl>

namespace {

const char *const kActivated = QT_TRANSLATE_NOOP(
    "EncryptWindow", "端对端加密激活成功! 请牢记新的加密的PIN! 否则你只能销毁重置加密档案，但那会清空您的线上数据, 包括收藏内容！");
const char *const kUnknown = QT_TRANSLATE_NOOP("EncryptWindow", "未知错误，请稍候重试");
const char *const kWrongCurrentPin =
    QT_TRANSLATE_NOOP("EncryptWindow", "您输入的当前PIN不正确,如果您忘记了当前的PIN, 只能选择‘重置加密档案’, "
                                       "请记住, 重置加密档案会清空线上所有数据, 包括收藏的数据");

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
    KeyFlow *flow = KeyFlow::instance();
    connect(flow, &KeyFlow::keyFetched, this, &EncryptWindow::keyFetched);
    connect(flow, &KeyFlow::unlockFinished, this, &EncryptWindow::unlockFinished);
    connect(flow, &KeyFlow::rewrapFinished, this, [this] { setBusy(false); });
    connect(flow, &KeyFlow::activationFinished, this, &EncryptWindow::activationFinished);
    connect(flow, &KeyFlow::pinChangeFinished, this, &EncryptWindow::pinChangeFinished);
    connect(flow, &KeyFlow::resetFinished, this, &EncryptWindow::resetFinished);
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

// --- outcomes ---

void EncryptWindow::showFailure(KeyFlow::Outcome outcome)
{
    switch (outcome) {
    case KeyFlow::Outcome::Internal: showKeyNotice(this, tr("内部错误")); break;
    case KeyFlow::Outcome::NetworkError: showKeyNotice(this, tr("网络错误, 请稍候重试")); break;
    default: showKeyNotice(this, tr(kUnknown)); break;
    }
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
    KeyFlow::instance()->fetchKey();
}

void EncryptWindow::keyFetched(KeyFlow::Outcome outcome)
{
    setBusy(false);
    if (outcome == KeyFlow::Outcome::NoKeyStored)
        startWizard(PINWizard::Activate);
    else if (outcome == KeyFlow::Outcome::Done)
        showWizard(PINWizard::Unlock);
    else
        showFailure(outcome);
}

void EncryptWindow::unlockEntered(const QVariantMap &pins)
{
    // The unlock wizard runs with the window idle; the slow unwrap keeps it busy.
    setBusy(true);
    KeyFlow::instance()->unlock(pins.value(QStringLiteral("last_pin")).toString());
}

void EncryptWindow::unlockFinished(bool imported)
{
    setBusy(false);
    if (!imported) {
        showKeyNotice(this, tr("PIN错误,如果你忘记了PIN,只能选择“销毁并重置加密档案”，销毁重置加密档案会清空您的线上数据, "
                               "包括收藏内容！"));
        showWizard(PINWizard::Unlock);
        return;
    }
    showKeyNotice(this, tr(kActivated));
    refresh();
    KeyFlow *flow = KeyFlow::instance();
    if (flow->rewrapDue()) {
        setBusy(true);
        flow->rewrap();
    }
}

void EncryptWindow::activationEntered(const QVariantMap &pins)
{
    KeyFlow::instance()->activate(pins.value(QStringLiteral("new_pin")).toString());
}

void EncryptWindow::activationFinished(KeyFlow::Outcome outcome)
{
    setBusy(false);
    if (outcome != KeyFlow::Outcome::Done) {
        showFailure(outcome);
        return;
    }
    refresh();
    showKeyNotice(this, tr(kActivated));
}

// --- change PIN ---

void EncryptWindow::changeEntered(const QVariantMap &pins)
{
    KeyFlow::instance()->changePin(pins.value(QStringLiteral("last_pin")).toString(),
                                   pins.value(QStringLiteral("new_pin")).toString());
}

void EncryptWindow::pinChangeFinished(KeyFlow::Outcome outcome)
{
    setBusy(false);
    if (outcome == KeyFlow::Outcome::Done)
        refresh();
    else if (outcome == KeyFlow::Outcome::WrongPin)
        showKeyNotice(this, tr(kWrongCurrentPin));
    else
        showFailure(outcome);
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
    KeyFlow::instance()->reset(pins.value(QStringLiteral("pwd")).toString(),
                               pins.value(QStringLiteral("new_pin")).toString());
}

void EncryptWindow::resetFinished(KeyFlow::Outcome outcome)
{
    setBusy(false);
    if (outcome == KeyFlow::Outcome::Done) {
        refresh();
        showKeyNotice(this, tr("加密档案重置成功! 同时您的线上数据已经清空, 包括收藏内容, 请牢记新的加密的PIN!"));
    } else if (outcome == KeyFlow::Outcome::WrongPassword) {
        showKeyNotice(this, tr("您输入的帐号登录密码有误, 如果您忘记了登录密码, 请在登录页面选择忘记密码来重置登录密码"));
    } else {
        showFailure(outcome);
    }
}
