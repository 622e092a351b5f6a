#include "net/CClearHistoryRequest.h"

#include <QJsonObject>

CClearHistoryRequest::CClearHistoryRequest()
{
    setPath(QStringLiteral("clear_history/"));
}

void CClearHistoryRequest::buildUrl()
{
    setUrl(fullUrl() + QStringLiteral("&user_token=") + userToken());
}

QVariant CClearHistoryRequest::parseResponse(const QByteArray &body)
{
    QJsonObject object;
    if (!parseObject(body, &object))
        return QVariant();
    if (!object.contains(QLatin1String("code")) || object.value(QLatin1String("code")).toInt() != 0)
        return QVariant();
    return object.toVariantMap();
}
