// The settings window's account work: sign-in, sign-up, password reset, sign-out,
// the start-up handshake, the version checks and the signed-in clear.
#include "desktop/MainWindow.h"

#include "app/Constants.h"
#include "app/clipUtils.h"
#include "desktop/MenuManager.h"
#include "net/CClearHistoryRequest.h"
#include "net/CInitRequest.h"
#include "net/CLoginRequest.h"
#include "net/CRegisterrequest.h"
#include "net/CRequestCheckUpdate.h"
#include "net/CRequestFindPwd.h"
#include "net/CRequestSyncPublicKey.h"
#include "net/SyncHandOver.h"
#include "store/HistoryStore.h"
#include "ui_MainWindow.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QNetworkReply>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QUrl>

using namespace Zorvel;

namespace {

// Service codes the window tells apart.
constexpr int kEmailTaken = 1001;
constexpr int kUnknownEmail = 1002;

bool ask(QWidget *parent, const QString &text, const QString &informative)
{
    QMessageBox box(parent);
    box.setText(text);
    box.setInformativeText(informative);
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

// A reply arrived without a network or HTTP error and carried a value.
bool answered(CBaseRequest *request, const QVariant &var)
{
    return request->replyOk() && var.isValid();
}

int replyCode(const QVariant &var)
{
    return var.toMap().value(QStringLiteral("code")).toInt();
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

void MainWindow::startAccountRequest(const QString &address)
{
    const bool hasPassword = !ui->line_passwd->text().isEmpty();
    if (ui->radio_login->isChecked() && hasPassword) {
        startKeyRequest(address, false);
    } else if (ui->radio_register->isChecked() && hasPassword) {
        if (!ask(this, tr("确认邮箱: %1").arg(address),
                 tr("邮箱将会用于您找回密码等服务,确认使用此邮箱?"))) {
            qDebug("cancel");
            return;
        }
        ui->tab_login->setEnabled(false);
        startKeyRequest(address, true);
    } else if (ui->radio_findpwd->isChecked()) {
        if (!ask(this, tr("确认邮箱: %1").arg(address), tr("确认向此邮箱发送重置密码的邮件?"))) {
            qDebug("cancel");
            return;
        }
        ui->tab_login->setEnabled(false);
        auto *request = new CRequestFindPwd;
        request->setEmail(address);
        connect(request, &CBaseRequest::responseData, this, &MainWindow::findPwdRequestFinish);
        request->start();
    }
}

void MainWindow::startKeyRequest(const QString &address, bool signUp)
{
    delete m_keyRequest;
    auto *request = new CRequestSyncPublicKey;
    m_keyRequest = request;
    connect(request, &CBaseRequest::responseData, this, [this, address, signUp](CBaseRequest *r, QVariant var) {
        keyRequestFinish(r, var, address, signUp);
    });
    request->start();
}

void MainWindow::keyRequestFinish(CBaseRequest *request, const QVariant &var, const QString &address, bool signUp)
{
    QString failure;
    if (!request->reply())
        failure = tr("内部错误");
    else if (request->reply()->error() != QNetworkReply::NoError || request->httpStatus() != 200)
        failure = tr("网络错误, 请稍候重试");
    else if (replyCode(var) != 0)
        failure = tr("未知错误，请稍候重试");
    if (!failure.isEmpty()) {
        if (m_keyRequest == request)
            m_keyRequest = nullptr;
        delete request;
        // A sign-up disabled the tab before asking; without this it would stay dead.
        ui->tab_login->setEnabled(true);
        alert(failure);
        return;
    }

    const QString password = ui->line_passwd->text();
    if (signUp) {
        auto *registration = new CRegisterrequest;
        registration->setUserName(address);
        registration->setPasswordHash(clipUtils::md5Hex(password.toUtf8()));
        connect(registration, &CBaseRequest::responseData, this, &MainWindow::registerRequestFinish);
        registration->start();
        return;
    }
    auto *login = new CLoginRequest;
    login->setUserName(address);
    login->setPassword(password);
    connect(login, &CBaseRequest::responseData, this, &MainWindow::requestFinish);
    ui->tab_login->setEnabled(false);
    login->start();
    updateLoginUi();
}

void MainWindow::requestFinish(CBaseRequest *request, QVariant var)
{
    ui->tab_login->setEnabled(true);
    const bool ok = answered(request, var);
    delete request;
    if (!ok) {
        alert(tr("登录失败,网络有问题"));
        return;
    }
    if (replyCode(var) != 0) {
        inform(tr("登录失败"), tr("密码或用户名错误"));
        return;
    }
    SyncHandOver::instance()->requestBrokerConnect();
    updateLoginUi();
}

void MainWindow::registerRequestFinish(CBaseRequest *request, QVariant var)
{
    ui->tab_login->setEnabled(true);
    request->deleteLater();
    if (answered(request, var) && replyCode(var) != 0) {
        alert(replyCode(var) == kEmailTaken ? tr("邮箱已被注册,尝试找回密码") : tr("服务器错误"));
        return;
    }
    if (!answered(request, var))
        alert(tr("注册失败,网络有问题"));
    updateLoginUi();
}

void MainWindow::findPwdRequestFinish(CBaseRequest *request, QVariant var)
{
    ui->tab_login->setEnabled(true);
    request->deleteLater();
    if (answered(request, var)) {
        if (replyCode(var) != 0) {
            alert(replyCode(var) == kUnknownEmail ? tr("无此邮箱") : tr("服务器错误"));
            return;
        }
        inform(tr("请求成功"),
               tr("请访问你的邮箱并且重置密码。\n注意：某些邮件服务器会把Zorvel的邮件认作\"垃圾邮件\""));
    } else {
        alert(tr("请求失败,网络有问题"));
    }
    updateLoginUi();
}

// The service ended the sign-in: sign out completely and say so once.
void MainWindow::sessionEnded()
{
    logoutButtonClicked();
    inform(QStringLiteral("已退出登录"), QStringLiteral("服务器已结束本设备的登录（例如密码已重置），请重新登录。"));
}

// What signing out adds to forgetting keys, token and entries.
void MainWindow::signedOut()
{
    // The local history went with the account: the next sign-in must pull everything
    // again, not only what changed since the last pull.
    clipUtils::settings()->remove(QLatin1String(Key::RequestTimestamp));
    SyncHandOver::instance()->requestBrokerDisconnect();
    qInfo("signed out");
}

void MainWindow::initRequestFinish(CBaseRequest *request, QVariant var)
{
    request->deleteLater();
    if (!answered(request, var))
        return;
    const QVariantMap data = var.toMap().value(QStringLiteral("data")).toMap();
    QSettings *settings = clipUtils::settings();
    for (const char *key : {Key::HomePage, Key::Developer}) {
        const QString address = data.value(QLatin1String(key)).toString();
        if (!address.isEmpty())
            settings->setValue(QLatin1String(key), address);
    }
    if (data.value(QStringLiteral("token_expire")).toInt() == 1 && clipUtils::hasUserToken()) {
        qInfo("the service reports the sign-in as expired");
        logoutButtonClicked();
    }
}

void MainWindow::checkUpdate()
{
    ui->tab_about->setEnabled(false);
    auto *request = new CRequestCheckUpdate;
    connect(request, &CBaseRequest::responseData, this, &MainWindow::checkUpdateRequestFinish);
    request->start();
}

void MainWindow::checkUpdateRequestFinish(CBaseRequest *request, QVariant var)
{
    versionReply(request, var, true);
}

void MainWindow::startupCheckUpdateRequestFinish(CBaseRequest *request, QVariant var)
{
    versionReply(request, var, false);
}

void MainWindow::versionReply(CBaseRequest *request, const QVariant &var, bool fromButton)
{
    ui->tab_about->setEnabled(true);
    request->deleteLater();
    if (!request->replyOk())
        return;
    const QVariantMap data = var.toMap().value(QStringLiteral("data")).toMap();
    const QString version = data.value(QStringLiteral("version")).toString();
    const QString newer = clipUtils::newerVersion(clipUtils::appVersion(), version);
    clipUtils::settings()->setValue(QLatin1String(Key::NewVersion), version);
    MenuManager::instance()->updateMenu();

    const bool upToDate = newer.isEmpty() || newer == clipUtils::appVersion();
    if (fromButton && upToDate) {
        alert(tr("您的版本为最新版"));
        return;
    }
    if (upToDate || newer != version)
        return;
    if (!fromButton)
        showTab(TabAbout);
    if (ask(this, tr("有更新: ver%1").arg(version), data.value(QStringLiteral("update_info")).toString()))
        QDesktopServices::openUrl(QUrl(data.value(QStringLiteral("download_url")).toString()));
}

void MainWindow::clearHistorySignedIn()
{
    auto *request = new CClearHistoryRequest;
    connect(request, &CBaseRequest::responseData, this, &MainWindow::clearHistoryRequestFinish);
    request->start();
}

void MainWindow::clearHistoryRequestFinish(CBaseRequest *request, QVariant var)
{
    ui->clear_button->setEnabled(true);
    request->deleteLater();
    if (!answered(request, var))
        return;
    HistoryStore::clearNonFavourites();
    MenuManager::instance()->updateMenu();
    alert(tr("删除了%1条").arg(var.toMap().value(QStringLiteral("count")).toLongLong()));
}

void MainWindow::sendStartupRequests()
{
    auto *init = new CInitRequest;
    connect(init, &CBaseRequest::responseData, this, &MainWindow::initRequestFinish);
    init->start();
    auto *version = new CRequestCheckUpdate;
    connect(version, &CBaseRequest::responseData, this, &MainWindow::startupCheckUpdateRequestFinish);
    version->start();
}
