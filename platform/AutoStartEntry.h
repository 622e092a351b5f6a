#pragma once

#include <QString>

// The per-user "start at log-in" entry of the desktop session.
class AutoStartEntry
{
public:
    // Writes the entry that starts executablePath at log-in.
    static bool write(const QString &appName, const QString &executablePath);
    static bool remove(const QString &appName);
    // The executable path the entry starts, or empty text when there is no entry.
    static QString executable(const QString &appName);
    static QString entryPath(const QString &appName);
};
