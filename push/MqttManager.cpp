#include "push/MqttManager.h"

#include "app/Constants.h"
#include "app/Logging.h"
#include "app/clipUtils.h"
#include "net/BuildSettings.h"
#include "net/CPullRequest.h"
#include "net/FileService.h"

#include <QSettings>
#include <QTimer>


using namespace Zorvel;

MqttManager::MqttManager()
{
    connect(this, &MqttManager::sigalHandleMessage, this, &MqttManager::slotHandleMesage, Qt::AutoConnection);
    // The broker is reached over plain TCP: the library would otherwise load and set up
    // OpenSSL here, before the tray icon shows, for nothing (the requests set it up
    // themselves when they first need it).
    MQTTAsync_init_options init = MQTTAsync_init_options_initializer;
    init.do_openssl_init = 0;
    MQTTAsync_global_init(&init);
    MQTTAsync_setTraceLevel(static_cast<MQTTASYNC_TRACE_LEVELS>(Mqtt::kTraceLevel));
    // The client is made on the first connect: signed out, none is needed.
    m_host = QString::fromUtf8(Build::kMqttHost);
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &MqttManager::checkoutService);
    m_timer->start(Mqtt::kCheckIntervalMs);
}

MqttManager::~MqttManager()
{
    disconnectBroker();
}

MqttManager::Login MqttManager::currentLogin()
{
    QSettings *settings = clipUtils::settings();
    Login login{settings->value(QLatin1String(Key::MqttUser)).toString().toLatin1(),
                settings->value(QLatin1String(Key::MqttPassword)).toString().toLatin1(),
                settings->value(QLatin1String(Key::MqttClientId)).toString().toLatin1()};
    if (login.user.isEmpty() || login.password.isEmpty() || login.clientId.isEmpty())
        login = Login{Mqtt::kUserName, Mqtt::kPassword, clipUtils::deviceToken().toLatin1()};
    return login;
}

void MqttManager::destroyClient()
{
    if (!m_client)
        return;
    MQTTAsync_destroy(&m_client);
    m_client = nullptr;
    m_state.store(Disconnected);
}

void MqttManager::createClient(const QString &host)
{
    destroyClient();
    m_host = host;
    const QByteArray uri = "tcp://" + host.toLatin1() + ':' + QByteArray::number(Build::kMqttPort);
    m_clientId = currentLogin().clientId;
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
    qCDebug(lcPush, "connecting mqtt");
    if (!clipUtils::hasUserToken())
        return;
    const Login login = currentLogin();
    if (!m_client || login.clientId != m_clientId) {
        // Another sign-in or a newly issued account: the old connection must not
        // linger under the previous account.
        if (m_client && MQTTAsync_isConnected(m_client)) {
            disconnectBroker();
            return; // the next check connects with the new account
        }
        if (m_state.load() == Connecting)
            return;
        createClient(m_host);
        if (!m_client)
            return;
    }
    if (MQTTAsync_isConnected(m_client) || m_state.load() > Disconnected)
        return;
    m_user = login.user;
    m_password = login.password;
    m_state.store(Connecting);
    MQTTAsync_connectOptions options = MQTTAsync_connectOptions_initializer;
    options.keepAliveInterval = Mqtt::kKeepAliveSeconds;
    options.cleansession = 1;
    options.maxInflight = Mqtt::kMaxInflight;
    options.connectTimeout = Mqtt::kConnectTimeoutSeconds;
    options.retryInterval = 0;
    options.username = m_user.constData();
    options.password = m_password.constData();
    options.onSuccess = &MqttManager::onConnectSuccess;
    options.onFailure = &MqttManager::onConnectFailure;
    options.context = this;
    const int rc = MQTTAsync_connect(m_client, &options);
    if (rc != MQTTASYNC_SUCCESS) {
        qCWarning(lcPush, "mqtt: failed to connect, return code %d", rc);
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
        qCWarning(lcPush, "mqtt: failed to start disconnect, return code %d", rc);
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
        qCWarning(lcPush, "mqtt: failed to start subscribe, return code %d", rc);
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
        done->deleteLater();
    });
    pull->start();
}

// --- Paho callbacks: library threads ---

void MqttManager::onConnectionLost(void *context, char *cause)
{
    qCDebug(lcPush, "mqtt connection lost: %s", cause ? cause : "");
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
        self->setLastError(tr(Mqtt::kUnknownFailure));
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
    Q_UNUSED(response)
    qInfo("mqtt Subscribe failed");
    // Refused by the broker's access control: a connection that hears nothing is no
    // use; the next check connects again, with the account the service issued by then.
    auto *self = static_cast<MqttManager *>(context);
    self->setLastError(QString::fromUtf8(Mqtt::kUnknownFailure));
    MQTTAsync_disconnectOptions options = MQTTAsync_disconnectOptions_initializer;
    options.timeout = 0;
    options.onSuccess = &MqttManager::onDisconnectSuccess;
    options.context = self;
    MQTTAsync_disconnect(self->m_client, &options);
}

void MqttManager::onDisconnectSuccess(void *context, MQTTAsync_successData *response)
{
    Q_UNUSED(response)
    auto *self = static_cast<MqttManager *>(context);
    self->setConnectionState(Disconnected);
    qInfo("mqtt Successful disconnection\n");
    // Left for another account (a new sign-in): connect with it at once rather than
    // at the next check.
    QMetaObject::invokeMethod(
        self,
        [self] {
            if (currentLogin().clientId != self->m_clientId)
                self->connectBroker();
        },
        Qt::QueuedConnection);
}
