#include "net/CRequestPushDel.h"

#include <QJsonObject>

CRequestPushDel::CRequestPushDel()
{
    setMethod(QStringLiteral("DELETE"));
}

void CRequestPushDel::buildUrl()
{
    setUrl(fullUrl() + QStringLiteral("&user_token=") + userToken() + QStringLiteral("&history_id=")
           + QString::number(history().history_id()));
}

QVariant CRequestPushDel::parseResponse(const QByteArray &body)
{
    QJsonObject reply;
    if (!parseObject(body, &reply))
        return QVariant();
    return reply.toVariantMap();
}
