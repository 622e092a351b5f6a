#pragma once

#include "app/OnceOnly.h"

#include <MQTTAsync.h>

#include <QByteArray>
#include <QImage>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVariant>

#include <atomic>

class CBaseRequest;
class History;
class QTimer;

// The one MQTT connection to the service's broker, subscribed to the signed-in
// user's topic. Paho runs its callbacks on its own threads; they only touch the
// state, the last error and the queued message signal, so every message is handled
// on the main thread.
class MqttManager : public QObject
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(MqttManager)

public:
    ~MqttManager() override;

    enum State { Disconnected = 0, Connecting = 1, Connected = 2 };

    void connectBroker();
    void disconnectBroker();
    void subscribeUserTopic();

    QString lastError() const;
    void setLastError(const QString &text);
    int connectionState() const { return m_state.load(); }
    void setConnectionState(int state) { m_state.store(state); }

Q_SIGNALS:
    void sigalHandleMessage(QByteArray data);
    // An entry from another device was put on the clipboard: the tray shows it.
    void clipboardUpdated(const QString &text, const QImage &image);
    // The subscription to the user's topic is in place (tests wait for it).
    void subscribed();

public Q_SLOTS:
    void requestFinish(CBaseRequest *request, QVariant data);
    void slotHandleMesage(QByteArray data);
    void checkoutService();

private:
    friend class MqttManagerTestHook;
    MqttManager();

    void createClient(const QString &host);
    void handleDelete(const QVariantMap &data);
    void handleUploadFile(const QVariantMap &data);
    void handleClear(const QVariantMap &data);
    // The pending clipboard entry arrived: put it on the clipboard and tell the user.
    void placeIfPending(const History &record);
    void fileArrived(const QString &fileHash);
    // Back on the broker after a loss: notices published meanwhile are gone, so one
    // pull fetches what they announced.
    void catchUp();

    static void onConnectionLost(void *context, char *cause);
    static int onMessageArrived(void *context, char *topicName, int topicLen, MQTTAsync_message *message);
    static void onConnectSuccess(void *context, MQTTAsync_successData *response);
    static void onConnectFailure(void *context, MQTTAsync_failureData *response);
    static void onSubscribeSuccess(void *context, MQTTAsync_successData *response);
    static void onSubscribeFailure(void *context, MQTTAsync_failureData *response);
    static void onDisconnectSuccess(void *context, MQTTAsync_successData *response);

    MQTTAsync m_client = nullptr;
    std::atomic<int> m_state{Disconnected};
    // The user's topic was subscribed since the last deliberate disconnect: the next
    // subscription is a reconnection.
    std::atomic<bool> m_subscribedBefore{false};
    bool m_catchingUp = false;
    QString m_lastError;
    QTimer *m_timer = nullptr;
    mutable QMutex m_errorMutex;
    // The broker account the service issued with the user token; without one (an
    // older service) the shared account and the device token.
    struct Login {
        QByteArray user;
        QByteArray password;
        QByteArray clientId;
    };
    static Login currentLogin();
    void destroyClient();

    // Paho keeps pointers to these until the next connect.
    QString m_host;
    QByteArray m_clientId;
    QByteArray m_user;
    QByteArray m_password;
};
