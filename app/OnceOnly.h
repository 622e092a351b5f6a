#pragma once

// Process-wide single object created on first use. The function-local static is
// initialised exactly once even when several threads ask at the same time (the
// others wait until it is ready). The object lives for the whole process: it is
// never deleted, so nothing outlives the application object's teardown order by
// accident.
template <typename T>
class OnceOnly
{
public:
    static T *instance()
    {
        static T *const object = new T();
        return object;
    }
};

// Gives a class its instance() accessor; the constructor may stay private.
#define ZORVEL_ONCE_ONLY(Class)                                   \
public:                                                           \
    static Class *instance() { return OnceOnly<Class>::instance(); } \
private:                                                          \
    friend class OnceOnly<Class>;
