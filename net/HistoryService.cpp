#include "net/HistoryService.h"

#include "app/clipUtils.h"
#include "net/CRequestPushPost.h"
#include "net/CRequestPushPut.h"
#include "net/SyncHandOver.h"
#include "store/HistoryQueries.h"

void HistoryService::pushPending()
{
    if (!clipUtils::hasUserToken()) {
        m_busy = false;
        return;
    }
    if (m_busy)
        return;
    const HistoryPtr record = HistoryQueries::nextPushHistory();
    if (!record) {
        SyncHandOver::instance()->requestFileTransfer();
        m_busy = false;
        return;
    }
    m_busy = true;
    CRequestPush *request = nullptr;
    if (record->history_id() == 0) {
        request = new CRequestPushPost;
        connect(request, &CBaseRequest::responseData, this, &HistoryService::requestPostFinish);
    } else {
        request = new CRequestPushPut;
        connect(request, &CBaseRequest::responseData, this, &HistoryService::requestPutFinish);
    }
    request->setHistory(*record);
    request->start();
}

void HistoryService::requestPutFinish(CBaseRequest *request, QVariant data)
{
    Q_UNUSED(data)
    pushFinished(request);
}

void HistoryService::requestPostFinish(CBaseRequest *request, QVariant data)
{
    Q_UNUSED(data)
    pushFinished(request);
}

void HistoryService::pushFinished(CBaseRequest *request)
{
    // The parsers have already applied the reply; only the transport outcome decides
    // whether the mark goes and the chain goes on.
    const bool sent = request->replyOk();
    if (sent)
        static_cast<CRequestPush *>(request)->history().clearChangeIfUnchanged();
    m_busy = false;
    delete request;
    if (sent)
        pushPending();
}
