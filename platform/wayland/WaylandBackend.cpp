#include "platform/wayland/WaylandBackend.h"

#include "platform/HotKeyRegistrar.h"
#include "platform/wayland/WaylandClipboard.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandKeyInjector.h"

namespace {

// Wayland lets no client grab keys: the desktop's own shortcut settings start
// `zorvel --show` instead.
class ExternalTriggerRegistrar final : public HotKeyRegistrar
{
public:
    bool registerHotKey(quint32, quint32, quint32) override
    {
        qInfo("HotKeyRegistrar: Wayland grabs no keys for programs; bind a key to \"zorvel --show\" in the "
              "desktop's settings");
        return false;
    }
    bool unregisterHotKey(quint32) override { return false; }
    Event inspect(const QByteArray &, void *) const override { return Event(); }
    bool registersItself() const override { return false; }
};

} // namespace

WaylandBackend::Globals WaylandBackend::probe()
{
    return WaylandConnection::probe();
}

KeyInjector *WaylandBackend::keyInjector()
{
    static WaylandKeyInjector *injector = new WaylandKeyInjector(WaylandConnection::instance());
    return injector;
}

HotKeyRegistrar *WaylandBackend::hotKeyRegistrar()
{
    static ExternalTriggerRegistrar registrar;
    return &registrar;
}

SystemClipboard *WaylandBackend::clipboard()
{
    static WaylandClipboard *clipboard = new WaylandClipboard(WaylandConnection::instance());
    return clipboard;
}
