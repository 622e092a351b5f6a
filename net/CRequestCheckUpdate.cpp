#include "net/CRequestCheckUpdate.h"

#include <QJsonObject>

CRequestCheckUpdate::CRequestCheckUpdate()
{
    setPath(QStringLiteral("check_version/"));
}

void CRequestCheckUpdate::buildUrl()
{
    setUrl(fullUrl());
}

QVariant CRequestCheckUpdate::parseResponse(const QByteArray &body)
{
    QJsonObject object;
    if (!parseObject(body, &object))
        return QVariant();
    return object.toVariantMap();
}
