#pragma once

#include "app/OnceOnly.h"

#include <QObject>
#include <QString>

// Where the request layer and the windows hand work to parts that live elsewhere:
// the MQTT connection and the file service connect to these signals at start-up,
// so the request classes need not know them.
class SyncHandOver : public QObject
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(SyncHandOver)

public:
    void requestBrokerConnect() { Q_EMIT brokerConnectRequested(); }
    void requestFileTransfer() { Q_EMIT fileTransferRequested(); }
    void requestBrokerDisconnect() { Q_EMIT brokerDisconnectRequested(); }
    void requestMenuUpdate() { Q_EMIT menuUpdateRequested(); }
    void announceFileArrived(const QString &fileHash) { Q_EMIT fileArrived(fileHash); }
    void announceSessionEnded() { Q_EMIT sessionEnded(); }

Q_SIGNALS:
    // A pull or a sign-in finished: the MQTT connection should be (re)established.
    void brokerConnectRequested();
    // The user signed out: the MQTT connection ends.
    void brokerDisconnectRequested();
    // No history entry is pending any more: the file service may transfer the next file.
    void fileTransferRequested();
    // The store changed under the tray menu (favourites merged, a download finished).
    void menuUpdateRequested();
    // The file of an entry was downloaded into files/.
    void fileArrived(const QString &fileHash);
    // The service refused the user token (HTTP 401): token and keys are gone already;
    // the rest of signing out and telling the user follow. Once per token.
    void sessionEnded();

private:
    SyncHandOver() = default;
};
