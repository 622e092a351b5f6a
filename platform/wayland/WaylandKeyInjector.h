#pragma once

#include "platform/KeyInjector.h"

#include <QObject>
#include <QQueue>

class WaylandConnection;
struct wl_callback;
struct xkb_context;
struct xkb_keymap;
struct xkb_state;
struct zwp_virtual_keyboard_v1;

// Key strokes on Wayland: wlroots' virtual keyboard, else KWin's fake input. One
// keyboard lives as long as the process (a fresh one loses its first key), and
// the events are paced: each waits for the compositor to answer the one before,
// plus kPaceMs, or clients miss modifiers. sendKey() therefore only queues.
class WaylandKeyInjector final : public QObject, public KeyInjector
{
    Q_OBJECT

public:
    explicit WaylandKeyInjector(WaylandConnection *connection);
    ~WaylandKeyInjector() override;

    bool sendKey(quint32 virtualKey, bool down) override;
    bool canInject() override;

    static constexpr int kPaceMs = 10;

private:
    struct KeyEvent {
        quint32 keycode; // xkb key code (evdev + 8)
        bool down;
    };

    quint32 keycodeFor(quint32 virtualKey) const;
    void sendNext();

public:
    static void onSynced(void *data, wl_callback *callback, uint32_t);

private:

    WaylandConnection *m_connection;
    xkb_context *m_context = nullptr;
    xkb_keymap *m_keymap = nullptr;
    xkb_state *m_state = nullptr;
    zwp_virtual_keyboard_v1 *m_keyboard = nullptr;
    bool m_fakeInput = false;
    QQueue<KeyEvent> m_queue;
    bool m_busy = false;
};
