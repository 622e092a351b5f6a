#include "net/CRequestGetFavourite.h"

#include "app/Constants.h"
#include "app/EntryCheck.h"
#include "app/clipUtils.h"
#include "e2ee/ZeroManager.h"
#include "net/FavouriteService.h"
#include "net/SyncHandOver.h"
#include "store/HistoryQueries.h"
#include "store/HistoryStore.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cstdlib>

using namespace Zorvel;

namespace {

const QString kFavourite = QLatin1String(Category::Favourite);

qint64 idOf(const QJsonObject &element)
{
    // Sent as a number or as a text; anything else matches no row.
    return element.value(QLatin1String("history_id")).toVariant().toLongLong();
}

} // namespace

CRequestGetFavourite::CRequestGetFavourite()
{
    setPath(QStringLiteral("get_favourite/"));
    setMethod(QStringLiteral("POST"));
}

void CRequestGetFavourite::buildUrl()
{
    setUrl(fullUrl() + QStringLiteral("&user_token=") + userToken());
}

void CRequestGetFavourite::buildBody()
{
    m_favourites = HistoryQueries::favouriteMarks();
    setBody(toJson({{QStringLiteral("favourites"), m_favourites}}));
}

bool CRequestGetFavourite::applyDeleted(const QJsonObject &reply)
{
    const QJsonArray deleted = reply.value(QLatin1String("delfavourites")).toArray();
    for (const QJsonValue &element : deleted) {
        const qint64 id = idOf(element.toObject());
        if (id > 0)
            HistoryQueries::takeByHistoryId(id);
    }
    return !deleted.isEmpty();
}

bool CRequestGetFavourite::applyUnmarked(const QJsonObject &reply)
{
    bool changed = false;
    for (const QJsonValue &element : reply.value(QLatin1String("unfavourites")).toArray()) {
        const QJsonObject item = element.toObject();
        const qint64 mark = item.value(QLatin1String("favourite")).toVariant().toLongLong();
        const qint64 id = idOf(item);
        const HistoryPtr local = id > 0 ? HistoryQueries::findByHistoryId(id, kFavourite) : HistoryPtr();
        if (!local || std::llabs(local->favourite()) >= std::llabs(mark))
            continue;
        HistoryQueries::remove(local->file_hash(), kFavourite);
        HistoryQueries::setFavouriteMark(0, local->file_hash());
        changed = true;
    }
    return changed;
}

bool CRequestGetFavourite::applyServiceFavourites(const QJsonObject &reply)
{
    bool changed = false;
    ZeroManager *zero = ZeroManager::instance();
    for (const QJsonValue &element : reply.value(QLatin1String("histories")).toArray()) {
        History service = History::fromServiceItem(element.toObject().toVariantMap());
        const QString hash = service.file_hash();
        if (!clipUtils::isFileHash(hash)) {
            qWarning("favourites: item with an invalid file hash dropped");
            continue;
        }
        if (!HistoryQueries::exists(hash, kFavourite)) {
            changed = true;
            const bool encrypted = service.type().contains(QLatin1String("enc"));
            if (!service.key_hash().isEmpty() && encrypted) {
                QString plain = zero->decryptText(service.content());
                if (service.type().startsWith(QLatin1String("text_")) && !plain.isEmpty()
                    && !EntryCheck::textMayBelong(plain, hash)) {
                    qWarning("favourites: entry %s decrypts to another entry's text; dropped", qPrintable(hash));
                    plain.clear();
                }
                service.setContent(plain);
                service.setCategory(kFavourite);
                if (!plain.isEmpty())
                    service.save();
            } else if (service.key_hash().isEmpty() && !encrypted) {
                service.setCategory(kFavourite);
                service.save();
            }
            continue;
        }
        History local;
        local.setCategory(kFavourite);
        local.setFileHash(hash);
        local.load();
        if (local.timeStamp() < service.timeStamp())
            local.setTimeStamp(service.timeStamp());
        if (std::llabs(local.favourite()) < std::llabs(service.favourite())) {
            const qint64 mark = service.favourite() < 0 ? 0 : service.favourite();
            local.setFavourite(mark);
            HistoryQueries::setFavouriteMark(mark, hash);
            local.clearChangeIfUnchanged();
            changed = true;
        }
        local.save();
    }
    return changed;
}

QVariant CRequestGetFavourite::parseResponse(const QByteArray &body)
{
    QJsonObject reply;
    if (!parseObject(body, &reply) || !reply.contains(QLatin1String("code")))
        return QVariant();
    const int code = reply.value(QLatin1String("code")).toInt();
    if (code != 0)
        return code;
    verifyCipher(reply);

    bool changed = applyDeleted(reply);
    changed = applyUnmarked(reply) || changed;
    changed = applyServiceFavourites(reply) || changed;
    if (changed)
        SyncHandOver::instance()->requestMenuUpdate();
    HistoryStore::pruneCategory(kFavourite);
    FavouriteService::instance()->pushNext();
    return reply.toVariantMap();
}
