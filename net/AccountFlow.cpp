#include "net/AccountFlow.h"

#include "app/Constants.h"
#include "app/clipUtils.h"
#include "e2ee/ZeroManager.h"
#include "net/CInitRequest.h"
#include "net/CLoginRequest.h"
#include "net/CRegisterrequest.h"
#include "net/CRequestCheckUpdate.h"
#include "net/CRequestFindPwd.h"
#include "net/CRequestSyncPublicKey.h"
#include "net/RequestRunner.h"
#include "net/SyncHandOver.h"

#include <QNetworkReply>
#include <QSettings>

using namespace Zorvel;

namespace {

// Service codes told apart.
constexpr int kEmailTaken = 1001;
constexpr int kUnknownEmail = 1002;

int replyCode(const QVariant &var)
{
    return var.toMap().value(QStringLiteral("code")).toInt();
}

// An account reply judged: no answer (network or HTTP error, no value), done, the one
// refusal this request tells apart, or any other refusal.
AccountFlow::Outcome judged(CBaseRequest *request, const QVariant &var, int knownCode = 0,
                            AccountFlow::Outcome known = AccountFlow::Outcome::Refused)
{
    if (!request->replyOk() || !var.isValid())
        return AccountFlow::Outcome::NetworkError;
    const int code = replyCode(var);
    if (code == 0)
        return AccountFlow::Outcome::Done;
    return code == knownCode ? known : AccountFlow::Outcome::Refused;
}

} // namespace

void AccountFlow::finish(void (AccountFlow::*signal)(AccountFlow::Outcome), Outcome outcome)
{
    m_busy = false;
    Q_EMIT(this->*signal)(outcome);
}

void AccountFlow::signUp(const QString &address, const QString &password)
{
    fetchKeyThen(address, password, true);
}

void AccountFlow::signIn(const QString &address, const QString &password)
{
    fetchKeyThen(address, password, false);
}

// The password goes out only under the server's current public key.
void AccountFlow::fetchKeyThen(const QString &address, const QString &password, bool signUp)
{
    if (m_busy)
        return;
    m_busy = true;
    RequestRunner::send(this, new CRequestSyncPublicKey,
                        [this, address, password, signUp](CRequestSyncPublicKey *done, const QVariant &var) {
                            Outcome failure = Outcome::Done;
                            if (!done->reply())
                                failure = Outcome::NoReply;
                            else if (done->reply()->error() != QNetworkReply::NoError || done->httpStatus() != 200)
                                failure = Outcome::NetworkError;
                            else if (replyCode(var) != 0)
                                failure = Outcome::Refused;
                            if (failure != Outcome::Done) {
                                finish(&AccountFlow::keyFailed, failure);
                                return;
                            }
                            if (signUp)
                                sendSignUp(address, password);
                            else
                                sendSignIn(address, password);
                        });
}

void AccountFlow::sendSignUp(const QString &address, const QString &password)
{
    auto *request = new CRegisterrequest;
    request->setUserName(address);
    request->setPasswordHash(clipUtils::md5Hex(password.toUtf8()));
    RequestRunner::send(this, request, [this](CRegisterrequest *done, const QVariant &var) {
        finish(&AccountFlow::signUpFinished, judged(done, var, kEmailTaken, Outcome::EmailTaken));
    });
}

void AccountFlow::sendSignIn(const QString &address, const QString &password)
{
    auto *request = new CLoginRequest;
    request->setUserName(address);
    request->setPassword(password);
    RequestRunner::send(this, request, [this](CLoginRequest *done, const QVariant &var) {
        const Outcome outcome = judged(done, var);
        if (outcome == Outcome::Done)
            SyncHandOver::instance()->requestBrokerConnect();
        finish(&AccountFlow::signInFinished, outcome);
    });
    Q_EMIT signInSent();
}

void AccountFlow::resetPassword(const QString &address)
{
    if (m_busy)
        return;
    m_busy = true;
    auto *request = new CRequestFindPwd;
    request->setEmail(address);
    RequestRunner::send(this, request, [this](CRequestFindPwd *done, const QVariant &var) {
        finish(&AccountFlow::resetFinished, judged(done, var, kUnknownEmail, Outcome::UnknownEmail));
    });
}

void AccountFlow::signOut()
{
    ZeroManager::instance()->clearAllKeys();
    clipUtils::removeUserToken();
    // The local history goes with the account: the next sign-in must pull everything
    // again, not only what changed since the last pull.
    clipUtils::settings()->remove(QLatin1String(Key::RequestTimestamp));
    SyncHandOver::instance()->requestBrokerDisconnect();
    qInfo("signed out");
}

void AccountFlow::sendStartupRequests()
{
    RequestRunner::send(this, new CInitRequest,
                        [this](CInitRequest *done, const QVariant &var) { handshakeReply(done, var); });
    RequestRunner::send(this, new CRequestCheckUpdate,
                        [this](CRequestCheckUpdate *done, const QVariant &var) { versionReply(done, var, false); });
}

void AccountFlow::checkVersion()
{
    RequestRunner::send(this, new CRequestCheckUpdate,
                        [this](CRequestCheckUpdate *done, const QVariant &var) { versionReply(done, var, true); });
}

void AccountFlow::handshakeReply(CBaseRequest *request, const QVariant &var)
{
    request->deleteLater();
    if (!request->replyOk() || !var.isValid())
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
        Q_EMIT sessionExpired();
    }
}

void AccountFlow::versionReply(CBaseRequest *request, const QVariant &var, bool fromButton)
{
    request->deleteLater();
    if (!request->replyOk()) {
        Q_EMIT versionChecked(fromButton, Version::NoReply, QString(), QString(), QString());
        return;
    }
    const QVariantMap data = var.toMap().value(QStringLiteral("data")).toMap();
    const QString version = data.value(QStringLiteral("version")).toString();
    const QString newer = clipUtils::newerVersion(clipUtils::appVersion(), version);
    clipUtils::settings()->setValue(QLatin1String(Key::NewVersion), version);

    Version state = Version::Newer;
    if (newer.isEmpty() || newer == clipUtils::appVersion())
        state = Version::UpToDate;
    else if (newer != version)
        state = Version::Other;
    Q_EMIT versionChecked(fromButton, state, version, data.value(QStringLiteral("update_info")).toString(),
                          data.value(QStringLiteral("download_url")).toString());
}
