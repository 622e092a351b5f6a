#pragma once

#include <condition_variable>
#include <mutex>
#include <stdexcept>

namespace ZorvelService {

// Thrown when the password work is saturated; the server answers HTTP 503.
struct ServiceBusy : std::runtime_error {
    ServiceBusy() : std::runtime_error("password work saturated") {}
};

// Bounds the Argon2id work (64 MiB and a core each): at most `workers` at once, at
// most `queue` more waiting for a turn; anyone beyond is refused at once.
class PasswordGate {
public:
    PasswordGate(int workers, int queue);

    // Holds a turn for its lifetime; throws ServiceBusy when the queue is full.
    class Turn {
    public:
        explicit Turn(PasswordGate &gate);
        ~Turn();
        Turn(const Turn &) = delete;
        Turn &operator=(const Turn &) = delete;

    private:
        PasswordGate &m_gate;
    };

private:
    std::mutex m_mutex;
    std::condition_variable m_free;
    int m_workers;
    int m_queue;
    int m_running = 0;
    int m_waiting = 0;
};

} // namespace ZorvelService
