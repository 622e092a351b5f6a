#include "net/CRegisterrequest.h"

#include "app/clipUtils.h"
#include "net/CLoginRequest.h"

#include <QJsonObject>

CRegisterrequest::CRegisterrequest()
    : m_deviceName(clipUtils::deviceName())
{
    setPath(QStringLiteral("register/"));
}

void CRegisterrequest::buildUrl()
{
    setUrl(fullUrl() + QStringLiteral("&username=") + m_userName + QStringLiteral("&pwd_hash=") + m_passwordHash
           + QStringLiteral("&device_name=") + m_deviceName);
}

QVariant CRegisterrequest::parseResponse(const QByteArray &body)
{
    QJsonObject object;
    if (!parseObject(body, &object))
        return QVariant();
    CLoginRequest::storeAccount(object, m_userName);
    return object.toVariantMap();
}
