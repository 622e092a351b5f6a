#include "platform/wayland/WaylandConnection.h"

#include "fake-input-client-protocol.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <wayland-client.h>

#include <cerrno>
#include <poll.h>
#include <cstring>

namespace {

const wl_registry_listener kRegistryListener = {&WaylandConnection::global, &WaylandConnection::globalRemove};

void probeGlobal(void *data, wl_registry *, uint32_t, const char *interface, uint32_t)
{
    auto *globals = static_cast<WaylandBackend::Globals *>(data);
    if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0)
        globals->dataControl = true;
    else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
        globals->virtualKeyboard = true;
    else if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0)
        globals->fakeInput = true;
}

void probeGlobalRemove(void *, wl_registry *, uint32_t) {}

const wl_registry_listener kProbeListener = {probeGlobal, probeGlobalRemove};

} // namespace

WaylandBackend::Globals WaylandConnection::probe()
{
    WaylandBackend::Globals globals;
    wl_display *display = wl_display_connect(nullptr);
    if (!display)
        return globals;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kProbeListener, &globals);
    globals.connected = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return globals;
}

WaylandConnection *WaylandConnection::instance()
{
    // Never destroyed: the compositor drops the connection when the process ends.
    static WaylandConnection *connection = new WaylandConnection;
    return connection;
}

WaylandConnection::WaylandConnection()
{
    m_display = wl_display_connect(nullptr);
    if (!m_display) {
        qWarning("wayland: cannot connect to the display \"%s\": %s", qgetenv("WAYLAND_DISPLAY").constData(),
                 std::strerror(errno));
        return;
    }
    bindGlobals();
    m_notifier = new QSocketNotifier(wl_display_get_fd(m_display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &WaylandConnection::readEvents);
    if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &WaylandConnection::flush);
}

WaylandConnection::~WaylandConnection() = default;

void WaylandConnection::bindGlobals()
{
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &kRegistryListener, this);
    if (wl_display_roundtrip(m_display) < 0)
        fail("reading the globals");
}

void WaylandConnection::global(void *data, wl_registry *registry, uint32_t name, const char *interface,
                               uint32_t version)
{
    auto *self = static_cast<WaylandConnection *>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->m_seat) {
        self->m_seat = static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0 && !self->m_dataControl) {
        self->m_dataControl = static_cast<zwlr_data_control_manager_v1 *>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, qMin(version, 2u)));
    } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0
               && !self->m_virtualKeyboard) {
        self->m_virtualKeyboard = static_cast<zwp_virtual_keyboard_manager_v1 *>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    } else if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && !self->m_fakeInput) {
        self->m_fakeInput = static_cast<org_kde_kwin_fake_input *>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, qMin(version, 4u)));
    }
}

void WaylandConnection::globalRemove(void *, wl_registry *, uint32_t) {}

void WaylandConnection::flush()
{
    if (!m_display)
        return;
    // Events read during a round trip elsewhere wait in the queue; handle them
    // before the loop sleeps on a socket that has nothing more to say.
    if (wl_display_dispatch_pending(m_display) < 0) {
        fail("handling events");
        return;
    }
    if (wl_display_flush(m_display) < 0 && errno != EAGAIN)
        fail("sending requests");
}

bool WaylandConnection::roundTrip()
{
    if (!m_display)
        return false;
    if (wl_display_roundtrip(m_display) < 0) {
        fail("waiting for the compositor");
        return false;
    }
    return true;
}

void WaylandConnection::readEvents()
{
    if (!m_display)
        return;
    // A round trip since the notifier fired may have read everything already;
    // wl_display_dispatch() would then block the GUI until the compositor speaks.
    while (wl_display_prepare_read(m_display) != 0) {
        if (wl_display_dispatch_pending(m_display) < 0) {
            fail("handling events");
            return;
        }
    }
    pollfd pfd{wl_display_get_fd(m_display), POLLIN, 0};
    if (::poll(&pfd, 1, 0) > 0) {
        if (wl_display_read_events(m_display) < 0) {
            fail("reading events");
            return;
        }
    } else {
        wl_display_cancel_read(m_display);
    }
    if (wl_display_dispatch_pending(m_display) < 0)
        fail("handling events");
}

void WaylandConnection::fail(const char *where)
{
    if (!m_display)
        return;
    const int error = wl_display_get_error(m_display);
    qWarning("wayland: the connection to the compositor failed while %s: %s", where, std::strerror(error));
    // The objects stay allocated: their owners may still hold them, and the
    // connection ends with the process.
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance())
        disconnect(dispatcher, nullptr, this, nullptr);
    m_display = nullptr;
    Q_EMIT lost();
}
