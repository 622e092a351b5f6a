#include "push/MqttManager.h"

#include "app/Constants.h"
#include "app/clipUtils.h"
#include "net/BuildSettings.h"
#include "net/CPullRequest.h"
#include "net/FileService.h"
#include "net/SyncHandOver.h"

#include <QTimer>

#include <cstdio>

using namespace Zorvel;

MqttManager::MqttManager()
{
    connect(this, &MqttManager::sigalHandleMessage, this, &MqttManager::slotHandleMesage, Qt::AutoConnection);
    MQTTAsync_setTraceLevel(static_cast<MQTTASYNC_TRACE_LEVELS>(Mqtt::kTraceLevel));
    createClient(QString::fromUtf8(Build::kMqttHost));
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &MqttManager::checkoutService);
    m_timer->start(Mqtt::kCheckIntervalMs);

    SyncHandOver *handOver = SyncHandOver::instance();
    connect(handOver, &SyncHandOver::brokerConnectRequested, this, &MqttManager::connectBroker);
    connect(handOver, &SyncHandOver::brokerDisconnectRequested, this, &MqttManager::disconnectBroker);
    connect(handOver, &SyncHandOver::fileTransferRequested, FileService::instance(), &FileService::transferNext);
    connect(handOver, &SyncHandOver::fileArrived, this, &MqttManager::fileArrived);
}

MqttManager::~MqttManager()
{
    disconnectBroker();
}

void MqttManager::createClient(const QString &host)
{
    const QByteArray uri = "tcp://" + host.toLatin1() + ':' + QByteArray::number(Mqtt::kPort);
    m_clientId = clipUtils::deviceToken().toLatin1();
    if (MQTTAsync_create(&m_client, uri.constData(), m_clientId.constData(), MQTTCLIENT_PERSISTENCE_NONE, nullptr)
        != MQTTASYNC_SUCCESS) {
        qWarning("mqtt: could not create the client");
        m_client = nullptr;
        return;
    }
    MQTTAsync_setCallbacks(m_client, this, &MqttManager::onConnectionLost, &MqttManager::onMessageArrived, nullptr);
}

void MqttManager::connectBroker()
{
    qDebug("connecting mqtt");
    if (!clipUtils::hasUserToken() || !m_client)
        return;
    if (MQTTAsync_isConnected(m_client) || m_state.load() > Disconnected)
        return;
    m_state.store(Connecting);
    MQTTAsync_connectOptions options = MQTTAsync_connectOptions_initializer;
    options.keepAliveInterval = Mqtt::kKeepAliveSeconds;
    options.cleansession = 1;
    options.maxInflight = Mqtt::kMaxInflight;
    options.connectTimeout = Mqtt::kConnectTimeoutSeconds;
    options.retryInterval = 0;
    options.username = Mqtt::kUserName;
    options.password = Mqtt::kPassword;
    options.onSuccess = &MqttManager::onConnectSuccess;
    options.onFailure = &MqttManager::onConnectFailure;
    options.context = this;
    const int rc = MQTTAsync_connect(m_client, &options);
    if (rc != MQTTASYNC_SUCCESS) {
        std::printf("Failed to connect, return code %d\n", rc);
        std::fflush(stdout);
        m_state.store(Disconnected);
    }
}

void MqttManager::disconnectBroker()
{
    m_subscribedBefore.store(false);
    if (!m_client || !MQTTAsync_isConnected(m_client))
        return;
    MQTTAsync_disconnectOptions options = MQTTAsync_disconnectOptions_initializer;
    options.timeout = 0;
    options.onSuccess = &MqttManager::onDisconnectSuccess;
    options.onFailure = nullptr;
    options.context = this;
    const int rc = MQTTAsync_disconnect(m_client, &options);
    if (rc != MQTTASYNC_SUCCESS) {
        std::printf("Failed to start disconnect, return code %d\n", rc);
        std::fflush(stdout);
    }
}

void MqttManager::subscribeUserTopic()
{
    const QString userId = clipUtils::userId();
    if (userId.isEmpty() || !m_client)
        return;
    const QByteArray topic = QByteArray(Mqtt::kTopicPrefix) + userId.toLatin1();
    MQTTAsync_responseOptions options = MQTTAsync_responseOptions_initializer;
    options.onSuccess = &MqttManager::onSubscribeSuccess;
    options.onFailure = &MqttManager::onSubscribeFailure;
    options.context = this;
    const int rc = MQTTAsync_subscribe(m_client, topic.constData(), 0, &options);
    if (rc != MQTTASYNC_SUCCESS) {
        std::printf("Failed to start subscribe, return code %d\n", rc);
        std::fflush(stdout);
    }
}

QString MqttManager::lastError() const
{
    QMutexLocker lock(&m_errorMutex);
    return m_lastError;
}

void MqttManager::setLastError(const QString &text)
{
    QMutexLocker lock(&m_errorMutex);
    m_lastError = text;
}

void MqttManager::checkoutService()
{
    connectBroker();
}

void MqttManager::catchUp()
{
    if (m_catchingUp || !clipUtils::hasUserToken())
        return;
    m_catchingUp = true;
    qInfo("mqtt: reconnected, pulling what was missed");
    auto *pull = new CPullRequest;
    connect(pull, &CBaseRequest::responseData, this, [this](CBaseRequest *done, QVariant) {
        m_catchingUp = false;
        if (done->replyOk())
            SyncHandOver::instance()->requestMenuUpdate();
        done->deleteLater();
    });
    pull->start();
}

// --- Paho callbacks: library threads ---

void MqttManager::onConnectionLost(void *context, char *cause)
{
    qDebug("mqtt connection lost: %s", cause ? cause : "");
    static_cast<MqttManager *>(context)->setConnectionState(Disconnected);
}

int MqttManager::onMessageArrived(void *context, char *topicName, int topicLen, MQTTAsync_message *message)
{
    Q_UNUSED(topicLen)
    auto *self = static_cast<MqttManager *>(context);
    if (message->payloadlen < 0 || message->payloadlen > Mqtt::kMaxPayloadBytes) {
        qWarning("mqtt: message of %d bytes dropped", message->payloadlen);
    } else {
        // Built from the length: a payload may hold NUL bytes.
        const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
        Q_EMIT self->sigalHandleMessage(payload);
    }
    MQTTAsync_freeMessage(&message);
    MQTTAsync_free(topicName);
    return 1;
}

void MqttManager::onConnectSuccess(void *context, MQTTAsync_successData *response)
{
    Q_UNUSED(response)
    auto *self = static_cast<MqttManager *>(context);
    self->setConnectionState(Connected);
    self->setLastError(QString());
    self->subscribeUserTopic();
}

void MqttManager::onConnectFailure(void *context, MQTTAsync_failureData *response)
{
    auto *self = static_cast<MqttManager *>(context);
    self->setConnectionState(Disconnected);
    if (response && response->message && *response->message)
        self->setLastError(QString::fromUtf8(response->message));
    else
        self->setLastError(QString::fromUtf8(Mqtt::kUnknownFailure));
    qInfo("mqtt Connect failed");
}

void MqttManager::onSubscribeSuccess(void *context, MQTTAsync_successData *response)
{
    Q_UNUSED(response)
    qInfo("mqtt Subscribe succeeded");
    auto *self = static_cast<MqttManager *>(context);
    if (self->m_subscribedBefore.exchange(true))
        QMetaObject::invokeMethod(self, &MqttManager::catchUp, Qt::QueuedConnection);
    Q_EMIT self->subscribed();
}

void MqttManager::onSubscribeFailure(void *context, MQTTAsync_failureData *response)
{
    Q_UNUSED(context)
    Q_UNUSED(response)
    qInfo("mqtt Subscribe failed");
}

void MqttManager::onDisconnectSuccess(void *context, MQTTAsync_successData *response)
{
    Q_UNUSED(response)
    static_cast<MqttManager *>(context)->setConnectionState(Disconnected);
    qInfo("mqtt Successful disconnection\n");
}
