#include "net/CBaseRequest.h"

#include "app/Constants.h"
#include "app/Logging.h"
#include "app/clipUtils.h"
#include "e2ee/ZeroManager.h"
#include "net/BuildSettings.h"
#include "net/SyncHandOver.h"
#include "net/TlsTrust.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

using namespace Zorvel;

namespace {

// One manager for the whole program: its connections stay open between requests
// (the service keeps them alive), so a request costs no new TCP and TLS handshake.
QNetworkAccessManager *sharedManager()
{
    static QNetworkAccessManager *manager = new QNetworkAccessManager;
    return manager;
}

} // namespace

CBaseRequest::CBaseRequest(QObject *parent)
    : QObject(parent)
    , m_baseUrl(QString::fromUtf8(Build::kApiBaseUrl))
    , m_deviceToken(clipUtils::deviceToken())
    , m_version(clipUtils::appVersion())
    , m_deviceType(clipUtils::platformName())
    , m_userToken(clipUtils::userToken())
    , m_nam(sharedManager())
    , m_transferTimeoutMs(Net::kApiTransferTimeoutMs)
{
}

CBaseRequest::~CBaseRequest()
{
    // A reply may be in the middle of emitting finished() to this object, which the
    // receiver deletes from its slot: it must outlive this call. One still under
    // way is given up; the shared manager would otherwise keep it.
    if (m_inFlight) {
        disconnect(m_inFlight, nullptr, this, nullptr);
        if (m_inFlight->isRunning())
            m_inFlight->abort();
        m_inFlight->deleteLater();
    }
    if (m_reply)
        m_reply->deleteLater();
}

void CBaseRequest::track(QNetworkReply *reply)
{
    m_inFlight = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { requestFinish(reply); });
    watchSize(reply);
}

QVariant CBaseRequest::parseResponse(const QByteArray &body)
{
    Q_UNUSED(body)
    return QVariant();
}

void CBaseRequest::buildUrl() {}

void CBaseRequest::buildBody() {}

bool CBaseRequest::canContinue()
{
    if (!clipUtils::hasUserToken())
        return false;
    if (ZeroManager::instance()->hasKey())
        return true;
    qWarning("requet stop by key empty");
    return false;
}

QString CBaseRequest::fullUrl() const
{
    return m_baseUrl + m_path + commonQuery();
}

QString CBaseRequest::commonQuery() const
{
    QString query = QStringLiteral("?version=") + m_version + QStringLiteral("&device_token=") + m_deviceToken
        + QStringLiteral("&device_type=") + m_deviceType + QStringLiteral("&encrypt=1");
    ZeroManager *zero = ZeroManager::instance();
    if (zero->hasKey())
        query += QStringLiteral("&key_hash=") + zero->keyHash() + QStringLiteral("&cipher_hash=") + zero->cipherHash();
    return query;
}

void CBaseRequest::prepare(QNetworkRequest &request, bool withIdentity) const
{
    request.setSslConfiguration(TlsTrust::configuration());
    // Without it a connection that goes silent would keep the caller's busy flag set
    // until the next start of the program.
    request.setTransferTimeout(m_transferTimeoutMs);
    if (withIdentity)
        request.setRawHeader("User-Agent", Net::kUserAgent);
}

void CBaseRequest::watchSize(QNetworkReply *reply)
{
    // Compressed transfers report their wire size in downloadProgress; the bytes
    // waiting to be read are what the body really takes, so both are checked.
    auto check = [this, reply](qint64 received, qint64 total) {
        if (m_oversized || (received <= Net::kMaxReplyBytes && total <= Net::kMaxReplyBytes))
            return;
        m_oversized = true;
        // abort() may deliver the final finished() at once, and its receiver may
        // delete this object: nothing may follow it here.
        reply->abort();
    };
    connect(reply, &QNetworkReply::downloadProgress, this, check);
    connect(reply, &QNetworkReply::readyRead, this, [check, reply] { check(reply->bytesAvailable(), 0); });
}

void CBaseRequest::start()
{
    buildUrl();
    buildBody();
    if (!canContinue()) {
        requestFinish(nullptr);
        return;
    }

    const QUrl url(m_url, QUrl::TolerantMode);
    QNetworkRequest request(url);
    prepare(request, true);
    // The query carries tokens and password hashes: only the endpoint is logged.
    qCDebug(lcNet, "request url is: %s", qPrintable(logUrl(url)));

    QNetworkReply *sent = nullptr;
    if (m_method == QLatin1String("GET")) {
        sent = m_nam->get(request);
    } else if (m_method == QLatin1String("PUT")) {
        sent = m_nam->put(request, m_body);
    } else if (m_method == QLatin1String("DELETE")) {
        sent = m_nam->deleteResource(request);
    } else if (m_method == QLatin1String("POST")) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/octet-stream"));
        sent = m_nam->post(request, m_body);
    } else {
        // Still exactly one report, so no caller waits forever for this request.
        qWarning("request %s: unknown method %s, nothing sent", qPrintable(m_path), qPrintable(m_method));
        finish(QVariant());
        return;
    }
    track(sent);
}

void CBaseRequest::requestFinish(QNetworkReply *reply)
{
    if (!reply) {
        finish(QVariant());
        return;
    }
    if (reply == m_inFlight)
        m_inFlight = nullptr;
    // The hop before a redirect is done with.
    if (m_reply && m_reply != reply)
        m_reply->deleteLater();
    m_reply = reply;
    endSessionOnRefusal();

    if (reply->error() != QNetworkReply::NoError) {
        if (m_oversized)
            qWarning("reply to %s exceeds %lld bytes: dropped", qPrintable(m_path),
                     static_cast<long long>(Net::kMaxReplyBytes));
        else
            qInfo("request %s failed: network error %d, HTTP status %d", qPrintable(m_path), int(reply->error()),
                  httpStatus());
        finish(QVariant());
        return;
    }

    QUrl target = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    if (!target.isEmpty() && target.isRelative())
        target = reply->url().resolved(target);
    m_redirectTarget = (!target.isEmpty() && target != m_redirectTarget) ? target : QUrl();

    if (!m_redirectTarget.isEmpty()) {
        // A chain that alternates between targets is never "the same target twice".
        if (++m_redirects > Net::kMaxRedirects) {
            qWarning("request %s: more than %d redirects, given up", qPrintable(m_path), Net::kMaxRedirects);
            finish(QVariant());
            return;
        }
        qCDebug(lcNet, "QNAMRedirect::replyFinished: Redirected to %s", qPrintable(logUrl(m_redirectTarget)));
        QNetworkRequest bare(m_redirectTarget);
        prepare(bare, false);
        track(m_nam->get(bare));
        return;
    }

    qCDebug(lcNet, "QNAMRedirect::replyFinished: Arrived to %s", qPrintable(logUrl(reply->url())));
    const QByteArray body = reply->readAll();
    const QVariant data = parseResponse(body);
    if (wantsNextRound()) {
        reply->deleteLater();
        m_reply = nullptr;
        m_redirects = 0;
        m_redirectTarget = QUrl();
        start();
        return;
    }
    finish(data);
}

void CBaseRequest::finish(const QVariant &data)
{
    if (m_reported)
        return;
    m_reported = true;
    Q_EMIT responseData(this, data);
}

// HTTP 401: the service no longer knows the token (expired, or every sign-in ended
// by a password reset). Only the first refusal of the current token signs out;
// requests still under way with it find the token gone.
void CBaseRequest::endSessionOnRefusal()
{
    if (httpStatus() != 401 || m_userToken.isEmpty() || m_userToken != clipUtils::userToken())
        return;
    qWarning("the service refused the sign-in (HTTP 401 on %s): signing out", qPrintable(m_path));
    clipUtils::removeUserToken();
    ZeroManager::instance()->clearAllKeys();
    SyncHandOver::instance()->requestBrokerDisconnect();
    SyncHandOver::instance()->announceSessionEnded();
}

int CBaseRequest::httpStatus() const
{
    return m_reply ? m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() : 0;
}

bool CBaseRequest::replyOk() const
{
    return m_reply && m_reply->error() == QNetworkReply::NoError;
}

bool CBaseRequest::parseObject(const QByteArray &body, QJsonObject *object) const
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        qWarning("reply to %s is not a JSON object (%s), %d bytes dropped", qPrintable(m_path),
                 qPrintable(error.error != QJsonParseError::NoError ? error.errorString()
                                                                    : QStringLiteral("not an object")),
                 body.size());
        return false;
    }
    *object = doc.object();
    return true;
}

void CBaseRequest::verifyCipher(const QJsonObject &object)
{
    if (object.contains(QLatin1String("cipher")))
        ZeroManager::instance()->verifyHashes(object.value(QLatin1String("cipher")).toObject().toVariantMap());
}

QByteArray CBaseRequest::toJson(const QVariantMap &map)
{
    return QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(QJsonDocument::Indented);
}

QString CBaseRequest::logUrl(const QUrl &url) const
{
    return url.toString(QUrl::RemoveQuery | QUrl::RemoveUserInfo | QUrl::RemoveFragment);
}
