#include "Notifier.h"

#include "Codec.h"
#include "Log.h"
#include "ServiceConstants.h"

#include <MQTTAsync.h>

#include <chrono>

namespace ZorvelService {

namespace {

constexpr char kControlTopic[] = "$CONTROL/dynamic-security/v1";
constexpr char kControlResponseTopic[] = "$CONTROL/dynamic-security/v1/response";

MQTTAsync handle(void *client)
{
    return static_cast<MQTTAsync>(client);
}

} // namespace

struct NotifierCallbacks {
    static void connected(void *context, char *) { static_cast<Notifier *>(context)->connected(); }
    static void connectFailed(void *context, MQTTAsync_failureData *data)
    {
        static_cast<Notifier *>(context)->connectFailed(data ? data->message : nullptr);
    }
    static void disconnected(void *context, MQTTAsync_successData *)
    {
        static_cast<Notifier *>(context)->disconnected();
    }
    static void disconnectFailed(void *context, MQTTAsync_failureData *)
    {
        static_cast<Notifier *>(context)->disconnected();
    }
    static void connectionLost(void *context, char *)
    {
        Log::warning("lost the connection to the MQTT broker " + static_cast<Notifier *>(context)->m_uri);
    }
    static void subscribed(void *context, MQTTAsync_successData *)
    {
        auto *self = static_cast<Notifier *>(context);
        if (self->onConnected)
            self->onConnected();
    }
    static int message(void *context, char *topic, int, MQTTAsync_message *message)
    {
        auto *self = static_cast<Notifier *>(context);
        if (self->onControlResponse && std::string(topic) == kControlResponseTopic) {
            const auto reply = nlohmann::json::parse(static_cast<const char *>(message->payload),
                                                     static_cast<const char *>(message->payload) + message->payloadlen,
                                                     nullptr, false);
            if (reply.is_object())
                self->onControlResponse(reply);
        }
        MQTTAsync_freeMessage(&message);
        MQTTAsync_free(topic);
        return 1;
    }
};

Notifier::Notifier(const std::string &brokerUri, std::string user, std::string password)
    : m_uri(brokerUri)
    , m_user(std::move(user))
    , m_password(std::move(password))
{
    MQTTAsync_createOptions options = MQTTAsync_createOptions_initializer;
    options.struct_version = 2;
    options.sendWhileDisconnected = 1;
    options.allowDisconnectedSendAtAnyTime = 1;
    options.deleteOldestMessages = 1;
    options.maxBufferedMessages = 10000;
    const std::string clientId = "zorvel-service-" + Codec::toHex(Codec::randomBytes(6));
    MQTTAsync client = nullptr;
    if (MQTTAsync_createWithOptions(&client, brokerUri.c_str(), clientId.c_str(), MQTTCLIENT_PERSISTENCE_NONE, nullptr,
                                    &options)
        != MQTTASYNC_SUCCESS) {
        Log::critical("cannot create the MQTT client for " + brokerUri);
        return;
    }
    m_client = client;
    MQTTAsync_setCallbacks(client, this, &NotifierCallbacks::connectionLost, &NotifierCallbacks::message, nullptr);
    MQTTAsync_setConnected(client, this, &NotifierCallbacks::connected);
    m_connector = std::thread([this] { connectLoop(); });
}

Notifier::~Notifier()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_connector.joinable())
        m_connector.join();
    if (!m_client)
        return;
    if (MQTTAsync_isConnected(handle(m_client))) {
        MQTTAsync_disconnectOptions options = MQTTAsync_disconnectOptions_initializer;
        options.timeout = 1000;
        options.context = this;
        options.onSuccess = &NotifierCallbacks::disconnected;
        options.onFailure = &NotifierCallbacks::disconnectFailed;
        if (MQTTAsync_disconnect(handle(m_client), &options) == MQTTASYNC_SUCCESS) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait_for(lock, std::chrono::seconds(3), [this] { return m_disconnected; });
        }
    }
    MQTTAsync client = handle(m_client);
    MQTTAsync_destroy(&client);
}

bool Notifier::isConnected() const
{
    return m_client && MQTTAsync_isConnected(handle(m_client));
}

void Notifier::connectLoop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        // After the first connection the library reconnects by itself.
        if (!m_everConnected && !m_connecting) {
            m_connecting = true;
            MQTTAsync_connectOptions options = MQTTAsync_connectOptions_initializer;
            options.keepAliveInterval = 20;
            options.cleansession = 1;
            options.username = m_user.c_str();
            options.password = m_password.c_str();
            options.automaticReconnect = 1;
            options.minRetryInterval = 1;
            options.maxRetryInterval = 4;
            options.connectTimeout = 5;
            options.context = this;
            options.onFailure = &NotifierCallbacks::connectFailed;
            lock.unlock();
            const int rc = MQTTAsync_connect(handle(m_client), &options);
            lock.lock();
            if (rc != MQTTASYNC_SUCCESS)
                m_connecting = false;
        }
        m_wake.wait_for(lock, std::chrono::seconds(1));
    }
}

void Notifier::connected()
{
    const bool first = !m_everConnected.exchange(true);
    m_connecting = false;
    Log::info(std::string(first ? "connected" : "reconnected") + " to the MQTT broker " + m_uri);
    MQTTAsync_responseOptions options = MQTTAsync_responseOptions_initializer;
    options.context = this;
    options.onSuccess = &NotifierCallbacks::subscribed;
    MQTTAsync_subscribe(handle(m_client), kControlResponseTopic, 1, &options);
}

void Notifier::connectFailed(const char *message)
{
    m_connecting = false;
    static std::atomic<int> reported {0};
    // One line per burst of failures is enough; the broker may simply start later.
    if (reported++ % 30 == 0)
        Log::warning("cannot connect to the MQTT broker " + m_uri + (message ? std::string(": ") + message : ""));
}

void Notifier::disconnected()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_disconnected = true;
    }
    m_wake.notify_all();
}

void Notifier::publishControl(const std::string &payload)
{
    if (!m_client)
        return;
    MQTTAsync_message message = MQTTAsync_message_initializer;
    message.payload = const_cast<char *>(payload.data());
    message.payloadlen = static_cast<int>(payload.size());
    message.qos = 1;
    MQTTAsync_responseOptions options = MQTTAsync_responseOptions_initializer;
    const int rc = MQTTAsync_sendMessage(handle(m_client), kControlTopic, &message, &options);
    if (rc != MQTTASYNC_SUCCESS)
        Log::warning("cannot send a broker access-control command (code " + std::to_string(rc) + ")");
}

void Notifier::publish(std::int64_t userId, const std::string &protocol, nlohmann::json data)
{
    if (!m_client)
        return;
    const std::string topic = kTopicPrefix + std::to_string(userId);
    const std::string payload = nlohmann::json {{"protocol", protocol}, {"data", std::move(data)}}.dump();
    MQTTAsync_message message = MQTTAsync_message_initializer;
    message.payload = const_cast<char *>(payload.data());
    message.payloadlen = static_cast<int>(payload.size());
    message.qos = 1;
    message.retained = 0;
    MQTTAsync_responseOptions options = MQTTAsync_responseOptions_initializer;
    const int rc = MQTTAsync_sendMessage(handle(m_client), topic.c_str(), &message, &options);
    if (rc != MQTTASYNC_SUCCESS)
        Log::warning("cannot publish " + protocol + " for user " + std::to_string(userId) + " (code "
                     + std::to_string(rc) + ")");
}

} // namespace ZorvelService
