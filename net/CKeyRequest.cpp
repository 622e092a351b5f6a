#include "net/CKeyRequest.h"

#include "app/clipUtils.h"

#include <QJsonObject>

CKeyRequest::CKeyRequest(const QString &path, const QString &method)
{
    setPath(path);
    setMethod(method);
}

void CKeyRequest::buildUrl()
{
    setUrl(fullUrl() + QStringLiteral("&user_token=") + userToken());
}

bool CKeyRequest::canContinue()
{
    return clipUtils::hasUserToken();
}

QVariant CKeyRequest::parseResponse(const QByteArray &body)
{
    QJsonObject object;
    if (!parseObject(body, &object))
        return QVariant();
    return object.toVariantMap();
}
