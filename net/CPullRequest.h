#pragma once

#include "net/CBaseRequest.h"

class QJsonObject;

// Brings the local history up to date with everything the service changed since
// the last successful pull, and applies it to the store before reporting.
class CPullRequest : public CBaseRequest
{
    Q_OBJECT

public:
    CPullRequest();

    qint32 lastRequestTimestamp() const { return m_lastRequestTimestamp; }
    void setLastRequestTimestamp(qint32 v) { m_lastRequestTimestamp = v; }

    QVariant parseResponse(const QByteArray &body) override;
    void buildUrl() override;

    // Applies one history item of the service to the store.
    static void applyItem(const QVariantMap &item);

private:
    static void applyActions(const QJsonObject &reply);

    qint32 m_lastRequestTimestamp = 0;
};
