#pragma once

#include "platform/wayland/WaylandBackend.h"

#include <QObject>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwlr_data_control_manager_v1;
struct zwp_virtual_keyboard_manager_v1;
struct org_kde_kwin_fake_input;
class QSocketNotifier;

// The program's own connection to the compositor, apart from Qt's: it works the
// same whether Qt draws through Wayland or XWayland. Its events are read when the
// socket has data and its requests flushed before the event loop sleeps.
class WaylandConnection : public QObject
{
    Q_OBJECT

public:
    // The process's connection, made on first use; check connected().
    static WaylandConnection *instance();
    // Reads the globals of the display named by WAYLAND_DISPLAY and disconnects.
    static WaylandBackend::Globals probe();

    bool connected() const { return m_display != nullptr; }
    wl_display *display() const { return m_display; }
    wl_seat *seat() const { return m_seat; }
    zwlr_data_control_manager_v1 *dataControl() const { return m_dataControl; }
    zwp_virtual_keyboard_manager_v1 *virtualKeyboard() const { return m_virtualKeyboard; }
    org_kde_kwin_fake_input *fakeInput() const { return m_fakeInput; }

    void flush();
    // Waits until the compositor has handled every request sent so far.
    bool roundTrip();

Q_SIGNALS:
    // The compositor closed the connection or sent a protocol error.
    void lost();

private:
    WaylandConnection();
    ~WaylandConnection() override;
    void bindGlobals();
    void readEvents();
    void fail(const char *where);

public:
    static void global(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t version);
    static void globalRemove(void *data, wl_registry *registry, uint32_t name);

private:

    wl_display *m_display = nullptr;
    wl_registry *m_registry = nullptr;
    wl_seat *m_seat = nullptr;
    zwlr_data_control_manager_v1 *m_dataControl = nullptr;
    zwp_virtual_keyboard_manager_v1 *m_virtualKeyboard = nullptr;
    org_kde_kwin_fake_input *m_fakeInput = nullptr;
    QSocketNotifier *m_notifier = nullptr;
};
