#pragma once

#include "app/OnceOnly.h"

#include <QObject>

// Where the request layer hands work to parts that live above it: the MQTT
// connection and the file service connect to these signals at start-up, so the
// request classes need not know them.
class SyncHandOver : public QObject
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(SyncHandOver)

public:
    void requestBrokerConnect() { Q_EMIT brokerConnectRequested(); }
    void requestFileTransfer() { Q_EMIT fileTransferRequested(); }

Q_SIGNALS:
    // A pull finished: the MQTT connection should be (re)established.
    void brokerConnectRequested();
    // No history entry is pending any more: the file service may transfer the next file.
    void fileTransferRequested();

private:
    SyncHandOver() = default;
};
