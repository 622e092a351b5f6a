#include "net/CRequestPushGet.h"

#include <QJsonObject>

CRequestPushGet::CRequestPushGet() = default;

void CRequestPushGet::buildUrl()
{
    setUrl(fullUrl() + QStringLiteral("&user_token=") + userToken() + QStringLiteral("&history_id=")
           + QString::number(history().history_id()) + QStringLiteral("&file_hash=") + history().file_hash());
}

QVariant CRequestPushGet::parseResponse(const QByteArray &body)
{
    QJsonObject reply;
    if (!parseObject(body, &reply))
        return QVariant();
    verifyCipher(reply);
    return reply.toVariantMap();
}
