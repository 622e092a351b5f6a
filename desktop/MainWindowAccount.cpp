// The settings window's account tab and about tab: what the user typed goes to the
// account flow; its outcomes come back as boxes.
#include "desktop/MainWindow.h"

#include "app/Logging.h"
#include "app/clipUtils.h"
#include "net/AccountFlow.h"
#include "ui_MainWindow.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

namespace {

bool ask(QWidget *parent, const QString &text, const QString &informative)
{
    QMessageBox box(parent);
    box.setText(text);
    box.setInformativeText(informative);
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

} // namespace

void MainWindow::inform(const QString &text, const QString &informative)
{
    QMessageBox box(this);
    box.setText(text);
    box.setInformativeText(informative);
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

void MainWindow::connectAccountFlow()
{
    AccountFlow *flow = AccountFlow::instance();
    connect(flow, &AccountFlow::keyFailed, this, &MainWindow::keyFailed);
    connect(flow, &AccountFlow::signInSent, this, [this] {
        ui->tab_login->setEnabled(false);
        updateLoginUi();
    });
    connect(flow, &AccountFlow::signInFinished, this, &MainWindow::signInFinished);
    connect(flow, &AccountFlow::signUpFinished, this, &MainWindow::signUpFinished);
    connect(flow, &AccountFlow::resetFinished, this, &MainWindow::resetFinished);
    connect(flow, &AccountFlow::sessionExpired, this, &MainWindow::logoutButtonClicked);
    connect(flow, &AccountFlow::versionChecked, this, &MainWindow::versionChecked);
}

void MainWindow::startAccountRequest(const QString &address)
{
    const QString password = ui->line_passwd->text();
    AccountFlow *flow = AccountFlow::instance();
    if (ui->radio_login->isChecked() && !password.isEmpty()) {
        flow->signIn(address, password);
    } else if (ui->radio_register->isChecked() && !password.isEmpty()) {
        if (!ask(this, tr("确认邮箱: %1").arg(address),
                 tr("邮箱将会用于您找回密码等服务,确认使用此邮箱?"))) {
            qCDebug(lcDesktop, "cancel");
            return;
        }
        ui->tab_login->setEnabled(false);
        flow->signUp(address, password);
    } else if (ui->radio_findpwd->isChecked()) {
        if (!ask(this, tr("确认邮箱: %1").arg(address), tr("确认向此邮箱发送重置密码的邮件?"))) {
            qCDebug(lcDesktop, "cancel");
            return;
        }
        ui->tab_login->setEnabled(false);
        flow->resetPassword(address);
    }
}

void MainWindow::keyFailed(AccountFlow::Outcome outcome)
{
    // A sign-up disabled the tab before asking; without this it would stay dead.
    ui->tab_login->setEnabled(true);
    switch (outcome) {
    case AccountFlow::Outcome::NoReply: alert(tr("内部错误")); break;
    case AccountFlow::Outcome::NetworkError: alert(tr("网络错误, 请稍候重试")); break;
    default: alert(tr("未知错误，请稍候重试")); break;
    }
}

void MainWindow::signInFinished(AccountFlow::Outcome outcome)
{
    ui->tab_login->setEnabled(true);
    switch (outcome) {
    case AccountFlow::Outcome::Done: updateLoginUi(); break;
    case AccountFlow::Outcome::Refused: inform(tr("登录失败"), tr("密码或用户名错误")); break;
    default: alert(tr("登录失败,网络有问题")); break;
    }
}

void MainWindow::signUpFinished(AccountFlow::Outcome outcome)
{
    ui->tab_login->setEnabled(true);
    switch (outcome) {
    case AccountFlow::Outcome::Done: break;
    case AccountFlow::Outcome::EmailTaken: alert(tr("邮箱已被注册,尝试找回密码")); return;
    case AccountFlow::Outcome::Refused: alert(tr("服务器错误")); return;
    default: alert(tr("注册失败,网络有问题")); break;
    }
    updateLoginUi();
}

void MainWindow::resetFinished(AccountFlow::Outcome outcome)
{
    ui->tab_login->setEnabled(true);
    switch (outcome) {
    case AccountFlow::Outcome::Done:
        inform(tr("请求成功"),
               tr("请访问你的邮箱并且重置密码。\n注意：某些邮件服务器会把Zorvel的邮件认作\"垃圾邮件\""));
        break;
    case AccountFlow::Outcome::UnknownEmail: alert(tr("无此邮箱")); return;
    case AccountFlow::Outcome::Refused: alert(tr("服务器错误")); return;
    default: alert(tr("请求失败,网络有问题")); break;
    }
    updateLoginUi();
}

// The service ended the sign-in: sign out completely and say so once.
void MainWindow::sessionEnded()
{
    logoutButtonClicked();
    inform(tr("已退出登录"), tr("服务器已结束本设备的登录（例如密码已重置），请重新登录。"));
}

void MainWindow::initRequestFinish(CBaseRequest *request, QVariant var)
{
    AccountFlow::instance()->handshakeReply(request, var);
}

void MainWindow::checkUpdate()
{
    ui->tab_about->setEnabled(false);
    AccountFlow::instance()->checkVersion();
}

void MainWindow::checkUpdateRequestFinish(CBaseRequest *request, QVariant var)
{
    AccountFlow::instance()->versionReply(request, var, true);
}

void MainWindow::startupCheckUpdateRequestFinish(CBaseRequest *request, QVariant var)
{
    AccountFlow::instance()->versionReply(request, var, false);
}

void MainWindow::versionChecked(bool fromButton, AccountFlow::Version state, const QString &version, const QString &updateInfo,
                                const QString &downloadUrl)
{
    ui->tab_about->setEnabled(true);
    if (fromButton && state == AccountFlow::Version::UpToDate) {
        alert(tr("您的版本为最新版"));
        return;
    }
    if (state != AccountFlow::Version::Newer)
        return;
    if (!fromButton)
        showTab(TabAbout);
    if (ask(this, tr("有更新: ver%1").arg(version), updateInfo))
        QDesktopServices::openUrl(QUrl(downloadUrl));
}
