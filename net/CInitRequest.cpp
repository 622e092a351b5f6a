#include "net/CInitRequest.h"

#include "app/Constants.h"
#include "app/clipUtils.h"
#include "net/CLoginRequest.h"

#include <QJsonObject>
#include <QSettings>

using namespace Zorvel;

CInitRequest::CInitRequest()
    : m_deviceName(clipUtils::deviceName())
{
    setPath(QStringLiteral("init/"));
    qDebug("device name: %s", qPrintable(m_deviceName));
}

void CInitRequest::buildUrl()
{
    QString url = fullUrl() + QStringLiteral("&device_name=") + m_deviceName;
    if (clipUtils::hasUserToken())
        url += QStringLiteral("&user_token=") + clipUtils::userToken();
    setUrl(url);
}

QVariant CInitRequest::parseResponse(const QByteArray &body)
{
    QJsonObject object;
    if (!parseObject(body, &object))
        return QVariant();
    QSettings *settings = clipUtils::settings();
    const QByteArray key = QByteArray::fromBase64(object.value(QLatin1String("public_key")).toString().toLatin1());
    settings->setValue(QLatin1String(Key::ServerPublicKey), key);
    settings->setValue(QLatin1String(Key::E2eePage), object.value(QLatin1String("e2ee")).toString());
    // A device signed in before the service issued broker accounts gets its own here.
    if (clipUtils::hasUserToken())
        CLoginRequest::storeBrokerAccount(object);
    return object.toVariantMap();
}
