#include "net/CRequestFindPwd.h"

#include <QJsonObject>

CRequestFindPwd::CRequestFindPwd()
{
    setPath(QStringLiteral("forget_pwd/"));
}

void CRequestFindPwd::buildUrl()
{
    setUrl(fullUrl() + QStringLiteral("&user_email=") + m_email);
}

QVariant CRequestFindPwd::parseResponse(const QByteArray &body)
{
    QJsonObject object;
    if (!parseObject(body, &object))
        return QVariant();
    return object.toVariantMap();
}
