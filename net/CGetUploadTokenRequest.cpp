#include "net/CGetUploadTokenRequest.h"

#include <QJsonObject>

CGetUploadTokenRequest::CGetUploadTokenRequest()
{
    setPath(QStringLiteral("get_upload_token/"));
}

void CGetUploadTokenRequest::buildUrl()
{
    setUrl(fullUrl() + QStringLiteral("&user_token=") + userToken() + QStringLiteral("&file_id=") + m_fileId
           + QStringLiteral("&file_hash=") + m_fileHash);
}

QVariant CGetUploadTokenRequest::parseResponse(const QByteArray &body)
{
    QJsonObject reply;
    if (!parseObject(body, &reply))
        return QVariant();
    return reply.toVariantMap();
}
