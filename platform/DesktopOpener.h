#pragma once

#include <QUrl>

#include <functional>

// Hands web and mail addresses to the desktop's default handler (browser, mail
// program). Tests install a hook that receives the address instead.
class DesktopOpener
{
public:
    using Hook = std::function<bool(const QUrl &)>;

    static bool open(const QUrl &url);
    // An empty hook restores the desktop.
    static void setTestHook(Hook hook);
};
