#pragma once

#include "app/OnceOnly.h"
#include "store/History.h"

#include <QObject>

// What the user can do to the history from any window: remove an entry, mark or
// unmark a favourite, release a confidential one, clear the history, pull, sync
// the favourites. Each chooses
// the signed-in path (the service first) or the local one; pull, favourites sync
// and clear run once at a time.
class EntryActions : public QObject
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(EntryActions)

public:
    // Signed in and uploaded: deleted on the service, here once it agreed.
    void remove(const History &record);
    void toggleFavourite(History record);
    // The entry is no longer confidential: it is uploaded like any other.
    void unlockSecret(const QString &fileHash);
    // Clears every entry but the favourites; historyCleared tells the end. A clear
    // asked for while one runs joins it.
    void clearHistory();
    // The signed-in history and favourites downloads; nothing when signed out.
    void pull();
    void syncFavourites();

    bool isClearing() const { return m_clearing; }
    bool isPulling() const { return m_pulling; }
    bool isSyncingFavourites() const { return m_syncingFavourites; }

Q_SIGNALS:
    // ok with the number of entries removed (the service's count when signed in);
    // not ok when the service did not confirm (nothing was removed here).
    void historyCleared(bool ok, qint64 count);

private:
    EntryActions() = default;

    void toggleFavouriteSignedIn(History &record, qint64 now);
    void finishClear(bool ok, qint64 count);

    bool m_clearing = false;
    bool m_pulling = false;
    bool m_syncingFavourites = false;
};
