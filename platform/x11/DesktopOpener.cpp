#include "platform/DesktopOpener.h"

#include <QDesktopServices>

namespace {
DesktopOpener::Hook &testHook()
{
    static DesktopOpener::Hook hook;
    return hook;
}
} // namespace

bool DesktopOpener::open(const QUrl &url)
{
    if (testHook())
        return testHook()(url);
    // xdg-open on an X11 session.
    return QDesktopServices::openUrl(url);
}

void DesktopOpener::setTestHook(Hook hook)
{
    testHook() = std::move(hook);
}
