#include "RateLimiter.h"

#include <chrono>

namespace ZorvelService {

namespace {

constexpr std::int64_t kSweepMs = 60 * 1000;
// No window is longer than this; older hits are forgotten in the sweep.
constexpr std::int64_t kLongestWindowMs = 24 * 60 * 60 * 1000LL;

} // namespace

bool RateLimiter::allow(const std::string &key, int limit, std::int64_t windowSeconds)
{
    const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (now - m_lastSweep > kSweepMs) {
        // Keys of addresses that went quiet must not pile up.
        for (auto it = m_hits.begin(); it != m_hits.end();) {
            if (it->second.empty() || now - it->second.back() > kLongestWindowMs)
                it = m_hits.erase(it);
            else
                ++it;
        }
        m_lastSweep = now;
    }
    auto &hits = m_hits[key];
    while (!hits.empty() && now - hits.front() >= windowSeconds * 1000)
        hits.pop_front();
    if (static_cast<int>(hits.size()) >= limit)
        return false;
    hits.push_back(now);
    return true;
}

} // namespace ZorvelService
