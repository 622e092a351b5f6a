#pragma once

#include <QtGlobal>

#include <atomic>
#include <thread>

// Process-wide single object created on first use. The state word is
// 0 = not requested, 1 = being created, 2 = ready; a caller that finds another
// thread constructing the object yields until it is ready. The object lives for
// the whole process: it is never deleted, so nothing outlives the application
// object's teardown order by accident.
template <typename T>
class OnceOnly
{
public:
    static T *instance()
    {
        int state = s_state.exchange(s_state.load()); // full-barrier read
        if (state == Ready)
            return s_object;
        int expected = Idle;
        if (s_state.compare_exchange_strong(expected, Creating)) {
            T *created = new T();
            delete s_object;
            s_object = created;
            s_state.store(Ready);
            return s_object;
        }
        for (;;) {
            int ready = Ready;
            if (s_state.compare_exchange_strong(ready, Ready))
                return s_object;
            std::this_thread::yield();
        }
    }

private:
    enum : int { Idle = 0, Creating = 1, Ready = 2 };
    static inline std::atomic<int> s_state{Idle};
    static inline T *s_object = nullptr;
};

// Gives a class its instance() accessor; the constructor may stay private.
#define ZORVEL_ONCE_ONLY(Class)                                   \
public:                                                           \
    static Class *instance() { return OnceOnly<Class>::instance(); } \
private:                                                          \
    friend class OnceOnly<Class>;
