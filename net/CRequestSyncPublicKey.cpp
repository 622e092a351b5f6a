#include "net/CRequestSyncPublicKey.h"

#include "app/Constants.h"
#include "app/clipUtils.h"

#include <QJsonObject>
#include <QSettings>

CRequestSyncPublicKey::CRequestSyncPublicKey()
{
    setPath(QStringLiteral("public_key/"));
}

void CRequestSyncPublicKey::buildUrl()
{
    setUrl(fullUrl());
}

QVariant CRequestSyncPublicKey::parseResponse(const QByteArray &body)
{
    QJsonObject object;
    if (!parseObject(body, &object))
        return QVariant();
    const QByteArray key = QByteArray::fromBase64(object.value(QLatin1String("public_key")).toString().toLatin1());
    clipUtils::settings()->setValue(QLatin1String(Zorvel::Key::ServerPublicKey), key);
    return object.toVariantMap();
}
