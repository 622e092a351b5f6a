#pragma once

#include "app/OnceOnly.h"

#include <QObject>
#include <QVariant>

class History;

class CBaseRequest;

// Drains the locally changed favourites, one request at a time, after each
// favourites download; when none is left it hands over to the file service.
class FavouriteService : public QObject
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(FavouriteService)

public:
    void pushNext();
    void restart();
    bool isBusy() const { return m_busy; }

public Q_SLOTS:
    void requestPostFinish(CBaseRequest *request, QVariant data);
    void requestSetFavouriteFinish(CBaseRequest *request, QVariant data);

private:
    FavouriteService() = default;
    void finished(CBaseRequest *request, const History &record);

    bool m_busy = false;
};
