#include "net/CRequestSetFavourite.h"

#include "app/Constants.h"
#include "e2ee/ZeroManager.h"
#include "net/SyncHandOver.h"
#include "store/HistoryQueries.h"

#include <QJsonObject>

#include <cstdlib>

using namespace Zorvel;

namespace {
// The service's answer for an entry it no longer has.
constexpr int kEntryDeleted = -4;
} // namespace

CRequestSetFavourite::CRequestSetFavourite()
{
    setPath(QStringLiteral("set_favourite/"));
    setMethod(QStringLiteral("POST"));
}

void CRequestSetFavourite::buildUrl()
{
    setUrl(fullUrl() + QStringLiteral("&user_token=") + userToken());
}

void CRequestSetFavourite::buildBody()
{
    QVariantMap item = m_history.toPushMap();
    // The service merges the mark by file hash; a confidential text stays here.
    if (m_history.secert()) {
        item.remove(QStringLiteral("content"));
    } else if (m_history.type().contains(QLatin1String("enc"))) {
        ZeroManager *zero = ZeroManager::instance();
        item.insert(QStringLiteral("content"), zero->encryptText(m_history.content()));
        item.insert(QStringLiteral("key_hash"), zero->keyHash());
    }
    setBody(toJson({{QStringLiteral("history"), item}}));
}

QVariant CRequestSetFavourite::parseResponse(const QByteArray &body)
{
    QJsonObject reply;
    if (!parseObject(body, &reply))
        return QVariant();
    verifyCipher(reply);
    const int code = reply.value(QLatin1String("code")).toInt();
    if (code == kEntryDeleted) {
        // Only an entry that had been on the service can have been deleted there.
        if (m_history.history_id() > 0) {
            HistoryQueries::removeByHash(m_history.file_hash());
            SyncHandOver::instance()->requestMenuUpdate();
        }
        return code;
    }
    if (code != 0)
        return code;
    const QVariantMap map = reply.toVariantMap();
    if (!reply.contains(QLatin1String("history")))
        return map;

    const History service = History::fromServiceItem(reply.value(QLatin1String("history")).toObject().toVariantMap());
    History local = m_history;
    if (!local.exists())
        return map;
    local.load();
    local.setHistoryId(service.history_id());
    local.setFileReady(service.file_ready());
    local.setFileId(service.file_id());
    if (std::llabs(local.favourite()) < std::llabs(service.favourite())) {
        if (service.favourite() < 0) {
            local.setFavourite(0);
            HistoryQueries::remove(local.file_hash(), QLatin1String(Category::Favourite));
        } else {
            local.setFavourite(service.favourite());
        }
    }
    HistoryQueries::setFavouriteMark(local.favourite(), local.file_hash());
    if (local.category() != QLatin1String(Category::Favourite))
        local.save();
    SyncHandOver::instance()->requestMenuUpdate();
    return map;
}
