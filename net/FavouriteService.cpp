#include "net/FavouriteService.h"

#include "app/clipUtils.h"
#include "net/CRequestPushPost.h"
#include "net/CRequestSetFavourite.h"
#include "net/FileService.h"
#include "store/HistoryQueries.h"

void FavouriteService::pushNext()
{
    if (!clipUtils::hasUserToken()) {
        m_busy = false;
        return;
    }
    if (m_busy)
        return;
    const HistoryPtr record = HistoryQueries::nextPushFavourite();
    if (!record) {
        m_busy = false;
        FileService::instance()->transferNext();
        return;
    }
    m_busy = true;
    if (record->history_id() == 0) {
        auto *request = new CRequestPushPost;
        request->setHistory(*record);
        connect(request, &CBaseRequest::responseData, this, &FavouriteService::requestPostFinish);
        request->start();
        return;
    }
    auto *request = new CRequestSetFavourite;
    request->setHistory(*record);
    connect(request, &CBaseRequest::responseData, this, &FavouriteService::requestSetFavouriteFinish);
    request->start();
}

void FavouriteService::restart()
{
    m_busy = false;
    pushNext();
}

void FavouriteService::finished(CBaseRequest *request, const History &record)
{
    const bool sent = request->replyOk();
    if (sent)
        record.clearChangeIfUnchanged();
    m_busy = false;
    request->deleteLater();
    if (sent)
        pushNext();
}

void FavouriteService::requestPostFinish(CBaseRequest *request, QVariant data)
{
    Q_UNUSED(data)
    finished(request, static_cast<CRequestPushPost *>(request)->history());
}

void FavouriteService::requestSetFavouriteFinish(CBaseRequest *request, QVariant data)
{
    Q_UNUSED(data)
    finished(request, static_cast<CRequestSetFavourite *>(request)->history());
}
