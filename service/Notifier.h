#pragma once

#include <nlohmann/json.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace ZorvelService {

// Publishes change notices to the MQTT broker on the topic "user_id_" + user id:
// {"protocol": ..., "data": {..., "device_token": <device that caused it>}}.
// Publishing never blocks a request: messages wait in the client library's buffer
// while the broker is unreachable, and the connection is retried in the background.
class Notifier {
public:
    Notifier(const std::string &brokerUri, std::string user, std::string password);
    ~Notifier();
    Notifier(const Notifier &) = delete;
    Notifier &operator=(const Notifier &) = delete;

    void publish(std::int64_t userId, const std::string &protocol, nlohmann::json data);
    bool isConnected() const;
    // A command message for the broker's dynamic-security plugin.
    void publishControl(const std::string &payload);
    // Both run on the client library's threads: after every (re)connection, once the
    // plugin's replies are subscribed to, and for each of those replies.
    std::function<void()> onConnected;
    std::function<void(const nlohmann::json &)> onControlResponse;

private:
    friend struct NotifierCallbacks; // the client library's C callbacks
    void connectLoop();
    void connected();
    void connectFailed(const char *message);
    void disconnected();

    void *m_client = nullptr;
    std::string m_uri;
    std::string m_user;
    std::string m_password;
    std::atomic<bool> m_connecting {false};
    std::atomic<bool> m_everConnected {false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    bool m_disconnected = false;
    std::thread m_connector;
};

} // namespace ZorvelService
