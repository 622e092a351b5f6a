#pragma once

#include <QString>

// One running instance per user. The first caller keeps the lock for the life of
// the process; a later process of the same user fails to get it.
class SingleInstance
{
public:
    // True when this process now holds the lock named after identifier.
    static bool acquire(const QString &identifier);
};
