#pragma once

#include "app/OnceOnly.h"

#include <QObject>

#include <atomic>

// The store's one change signal. Every successful write to the History table
// calls touch(); however many writes one pass of the event loop makes, views get
// a single changed() afterwards, on the main thread.
class StoreEvents : public QObject
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(StoreEvents)

public:
    static void touch();

Q_SIGNALS:
    void changed();

private:
    StoreEvents();
    void deliver();

    std::atomic<bool> m_pending{false};
};
