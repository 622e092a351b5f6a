#include "PasswordGate.h"

#include <algorithm>
#include <thread>

namespace ZorvelService {

PasswordGate::PasswordGate(int workers, int queue)
    : m_workers(workers > 0 ? workers : std::max(1, static_cast<int>(std::thread::hardware_concurrency())))
    , m_queue(std::max(0, queue))
{
}

PasswordGate::Turn::Turn(PasswordGate &gate)
    : m_gate(gate)
{
    std::unique_lock<std::mutex> lock(gate.m_mutex);
    if (gate.m_running >= gate.m_workers) {
        if (gate.m_waiting >= gate.m_queue)
            throw ServiceBusy();
        ++gate.m_waiting;
        gate.m_free.wait(lock, [&gate] { return gate.m_running < gate.m_workers; });
        --gate.m_waiting;
    }
    ++gate.m_running;
}

PasswordGate::Turn::~Turn()
{
    {
        std::lock_guard<std::mutex> lock(m_gate.m_mutex);
        --m_gate.m_running;
    }
    m_gate.m_free.notify_one();
}

} // namespace ZorvelService
