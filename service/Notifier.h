#pragma once

#include <nlohmann/json.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
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
    explicit Notifier(const std::string &brokerUri);
    ~Notifier();
    Notifier(const Notifier &) = delete;
    Notifier &operator=(const Notifier &) = delete;

    void publish(std::int64_t userId, const std::string &protocol, nlohmann::json data);
    bool isConnected() const;

private:
    friend struct NotifierCallbacks; // the client library's C callbacks
    void connectLoop();
    void connected();
    void connectFailed(const char *message);
    void disconnected();

    void *m_client = nullptr;
    std::string m_uri;
    std::atomic<bool> m_connecting {false};
    std::atomic<bool> m_everConnected {false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    bool m_disconnected = false;
    std::thread m_connector;
};

} // namespace ZorvelService
