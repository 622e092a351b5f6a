#pragma once

#include "net/CBaseRequest.h"
#include "store/History.h"

// Sends one changed favourite and merges the service's copy of it.
class CRequestSetFavourite : public CBaseRequest
{
    Q_OBJECT

public:
    CRequestSetFavourite();

    const History &history() const { return m_history; }
    void setHistory(const History &v) { m_history = v; }

    void buildUrl() override;
    void buildBody() override;
    QVariant parseResponse(const QByteArray &body) override;

private:
    History m_history;
};
