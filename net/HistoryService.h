#pragma once

#include "app/OnceOnly.h"

#include <QObject>
#include <QVariant>

class CBaseRequest;

// Drains the "history" entries marked as changed, newest first, one request at a
// time; when none is left it hands over to the file service.
class HistoryService : public QObject
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(HistoryService)

public:
    void pushPending();
    bool isBusy() const { return m_busy; }

public Q_SLOTS:
    void requestPutFinish(CBaseRequest *request, QVariant data);
    void requestPostFinish(CBaseRequest *request, QVariant data);

private:
    HistoryService() = default;
    void pushFinished(CBaseRequest *request);

    bool m_busy = false;
};
