#include "net/CLoginRequest.h"

#include "app/Constants.h"
#include "app/clipUtils.h"
#include "e2ee/CindralRecords.h"
#include "e2ee/ZeroManager.h"

#include <QJsonObject>
#include <QSettings>

using namespace Zorvel;

CLoginRequest::CLoginRequest()
    : m_deviceName(clipUtils::deviceName())
{
    setPath(QStringLiteral("login_v2/"));
    setMethod(QStringLiteral("POST"));
}

void CLoginRequest::buildUrl()
{
    setUrl(fullUrl() + QStringLiteral("&device_name=") + m_deviceName);
}

void CLoginRequest::buildBody()
{
    QVariantMap map;
    map.insert(QStringLiteral("username"), m_userName);
    const QByteArray publicKey = clipUtils::settings()->value(QLatin1String(Key::ServerPublicKey)).toByteArray();
    if (!publicKey.isEmpty()) {
        const QString digest = clipUtils::md5Hex(m_password.toUtf8());
        const QByteArray sealed = ZeroManager::instance()->sealForServer(digest.toUtf8(), publicKey);
        map.insert(QStringLiteral("pwd_hash"), QString::fromLatin1(sealed.toBase64()));
    }
    // Sent once: the password need not stay in memory for the request's lifetime.
    CindralRecords::wipe(m_password);
    setBody(toJson(map));
}

QVariant CLoginRequest::parseResponse(const QByteArray &body)
{
    QJsonObject object;
    if (!parseObject(body, &object))
        return QVariant();
    storeAccount(object, m_userName);
    return object.toVariantMap();
}

void CLoginRequest::storeAccount(const QJsonObject &reply, const QString &userName)
{
    if (!reply.contains(QLatin1String("code")) || reply.value(QLatin1String("code")).toInt() != 0
        || !reply.contains(QLatin1String("token")))
        return;
    QSettings *settings = clipUtils::settings();
    settings->setValue(QLatin1String(Key::UserToken), reply.value(QLatin1String("token")).toString());
    const QString userId = QString::number(reply.value(QLatin1String("user_id")).toVariant().toLongLong());
    settings->setValue(QLatin1String(Key::UserId), userId);
    settings->setValue(QLatin1String(Key::UserEmail), userName);
    storeBrokerAccount(reply);
    qInfo("signed in as user %s", qPrintable(userId));
}

void CLoginRequest::storeBrokerAccount(const QJsonObject &reply)
{
    const QJsonObject mqtt = reply.value(QLatin1String("mqtt")).toObject();
    const QString user = mqtt.value(QLatin1String("username")).toString();
    const QString password = mqtt.value(QLatin1String("password")).toString();
    const QString clientId = mqtt.value(QLatin1String("client_id")).toString();
    if (user.isEmpty() || password.isEmpty() || clientId.isEmpty())
        return;
    QSettings *settings = clipUtils::settings();
    settings->setValue(QLatin1String(Key::MqttUser), user);
    settings->setValue(QLatin1String(Key::MqttPassword), password);
    settings->setValue(QLatin1String(Key::MqttClientId), clientId);
}
