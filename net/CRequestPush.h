#pragma once

#include "net/CBaseRequest.h"
#include "store/History.h"

// Common base of the four "push/" requests: one history entry each.
class CRequestPush : public CBaseRequest
{
    Q_OBJECT

public:
    CRequestPush();

    const History &history() const { return m_history; }
    void setHistory(const History &v) { m_history = v; }

    void buildUrl() override;

protected:
    // {"history": push item}; empty when the record is empty. Content is kept only
    // when withContent is set, encrypted for "enc" types.
    QByteArray historyBody(bool withContent) const;

private:
    History m_history;
};
