#pragma once

#include "net/CBaseRequest.h"

class QJsonObject;

// Brings the local history up to date with everything the service changed since
// the last successful pull, and applies it to the store before reporting. A sync
// fetches page after page while the service says there is more (up to
// Net::kPullMaxPages) and prunes only after the last one, so a fresh device keeps
// the newest entries rather than the oldest page.
class CPullRequest : public CBaseRequest
{
    Q_OBJECT

public:
    CPullRequest();

    qint32 lastRequestTimestamp() const { return m_lastRequestTimestamp; }
    void setLastRequestTimestamp(qint32 v) { m_lastRequestTimestamp = v; }

    QVariant parseResponse(const QByteArray &body) override;
    void buildUrl() override;

    // Applies one history item of the service to the store (the row; files follow
    // at the end of the sync).
    static void applyItem(const QVariantMap &item);

    // Pages fetched by this sync so far.
    int pages() const { return m_pages; }

protected:
    bool wantsNextRound() const override { return m_nextPage; }

private:
    static void applyActions(const QJsonObject &reply);
    void finishSync();

    qint32 m_lastRequestTimestamp = 0;
    int m_pages = 0;
    bool m_nextPage = false;
    bool m_sawHistories = false;
};
