#include "platform/Backend.h"

#include "platform/HotKeyRegistrar.h"
#include "platform/KeyInjector.h"
#include "platform/SystemClipboard.h"
#include "platform/wayland/WaylandBackend.h"
#include "platform/x11/X11Backend.h"

#include <QMimeData>

namespace {

bool g_chosen = false;
PlatformBackend::Kind g_kind = PlatformBackend::Kind::X11;

QString choose(bool beforeApplication)
{
    g_chosen = true;
    g_kind = PlatformBackend::Kind::X11;
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return QString();
    const WaylandBackend::Globals globals = WaylandBackend::probe();
    const bool hasX = !qEnvironmentVariableIsEmpty("DISPLAY");
    if (globals.connected && globals.dataControl) {
        g_kind = PlatformBackend::Kind::Wayland;
        // Qt 5 draws through XWayland unless told otherwise; without an X server
        // it has to speak Wayland itself.
        if (beforeApplication && !hasX && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "wayland");
        return QStringLiteral("platform: Wayland backend (clipboard through data-control; key injection through %1)")
            .arg(globals.virtualKeyboard ? QStringLiteral("the virtual keyboard")
                 : globals.fakeInput     ? QStringLiteral("KWin fake input")
                                         : QStringLiteral("nothing: paste by hand"));
    }
    const QString why = globals.connected
        ? QStringLiteral("the Wayland compositor lets no background program see the clipboard (no data-control)")
        : QStringLiteral("the Wayland display \"%1\" does not answer").arg(qEnvironmentVariable("WAYLAND_DISPLAY"));
    if (!hasX)
        return QStringLiteral("platform: %1 and there is no X display: clipboard changes cannot be seen").arg(why);
    if (beforeApplication)
        qputenv("QT_QPA_PLATFORM", "xcb");
    return QStringLiteral("platform: %1; running through XWayland").arg(why);
}

} // namespace

QString PlatformBackend::chooseBeforeApplication()
{
    return choose(true);
}

PlatformBackend::Kind PlatformBackend::kind()
{
    if (!g_chosen)
        choose(false);
    return g_kind;
}

QString PlatformBackend::name()
{
    return kind() == Kind::Wayland ? QStringLiteral("wayland") : QStringLiteral("x11");
}

KeyInjector *KeyInjector::system()
{
    return PlatformBackend::kind() == PlatformBackend::Kind::Wayland ? WaylandBackend::keyInjector()
                                                                     : X11Backend::keyInjector();
}

HotKeyRegistrar *HotKeyRegistrar::system()
{
    return PlatformBackend::kind() == PlatformBackend::Kind::Wayland ? WaylandBackend::hotKeyRegistrar()
                                                                     : X11Backend::hotKeyRegistrar();
}

SystemClipboard *SystemClipboard::system()
{
    return PlatformBackend::kind() == PlatformBackend::Kind::Wayland ? WaylandBackend::clipboard()
                                                                     : X11Backend::clipboard();
}

void SystemClipboard::setText(const QString &text, QClipboard::Mode mode)
{
    auto *data = new QMimeData;
    data->setText(text);
    setMimeData(data, mode);
}

QString SystemClipboard::text(QClipboard::Mode mode)
{
    const QMimeData *data = mimeData(mode);
    return data ? data->text() : QString();
}
