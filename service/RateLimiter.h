#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace ZorvelService {

// Sliding-window counters kept in memory: allow() is true while `key` was allowed
// fewer than `limit` times in the last `windowSeconds`. Keys name the endpoint and the
// address or account, e.g. "register@127.0.0.1".
class RateLimiter {
public:
    bool allow(const std::string &key, int limit, std::int64_t windowSeconds);

private:
    std::mutex m_mutex;
    std::map<std::string, std::deque<std::int64_t>> m_hits; // steady-clock milliseconds
    std::int64_t m_lastSweep = 0;
};

} // namespace ZorvelService
