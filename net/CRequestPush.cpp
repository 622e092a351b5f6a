#include "net/CRequestPush.h"

#include "e2ee/ZeroManager.h"

CRequestPush::CRequestPush()
{
    setPath(QStringLiteral("push/"));
}

void CRequestPush::buildUrl()
{
    setUrl(fullUrl() + QStringLiteral("&user_token=") + userToken());
}

QByteArray CRequestPush::historyBody(bool withContent) const
{
    if (m_history.isEmpty())
        return QByteArray();
    QVariantMap item = m_history.toPushMap();
    if (!withContent) {
        item.remove(QStringLiteral("content"));
    } else if (m_history.type().contains(QLatin1String("enc"))) {
        ZeroManager *zero = ZeroManager::instance();
        item.insert(QStringLiteral("content"), zero->encryptText(m_history.content()));
        item.insert(QStringLiteral("key_hash"), zero->keyHash());
    }
    return toJson({{QStringLiteral("history"), item}});
}
