#include "platform/wayland/WaylandKeyInjector.h"

#include "platform/wayland/WaylandConnection.h"
#include "platform/x11/VirtualKeys.h"

#include "fake-input-client-protocol.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <QElapsedTimer>
#include <QTimer>

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

const wl_callback_listener kSyncListener = {&WaylandKeyInjector::onSynced};

// Milliseconds for the key events' time stamps; only their order matters.
uint32_t eventTime()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return uint32_t(clock.elapsed());
}

} // namespace

WaylandKeyInjector::WaylandKeyInjector(WaylandConnection *connection)
    : m_connection(connection)
{
    if (!connection->connected())
        return;
    // A plain US layout: the keys typed (Shift, Control, Insert, V) sit where
    // every layout has them, and the focused program reads them through this map.
    m_context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const xkb_rule_names names = {"evdev", "pc105", "us", "", ""};
    m_keymap = m_context ? xkb_keymap_new_from_names(m_context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
    if (!m_keymap) {
        qWarning("wayland: no keyboard map could be compiled; key strokes cannot be sent");
        return;
    }
    m_state = xkb_state_new(m_keymap);

    if (connection->virtualKeyboard() && connection->seat()) {
        char *text = xkb_keymap_get_as_string(m_keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        const size_t size = std::strlen(text) + 1;
        const int fd = memfd_create("zorvel-keymap", MFD_CLOEXEC);
        if (fd >= 0 && ::write(fd, text, size) == ssize_t(size)) {
            m_keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(connection->virtualKeyboard(),
                                                                                  connection->seat());
            zwp_virtual_keyboard_v1_keymap(m_keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, uint32_t(size));
            connection->roundTrip();
        } else {
            qWarning("wayland: the keyboard map could not be handed to the compositor");
        }
        if (fd >= 0)
            ::close(fd);
        free(text);
    } else if (connection->fakeInput()
               && org_kde_kwin_fake_input_get_version(connection->fakeInput())
                   >= ORG_KDE_KWIN_FAKE_INPUT_KEYBOARD_KEY_SINCE_VERSION) {
        org_kde_kwin_fake_input_authenticate(connection->fakeInput(), "Zorvel",
                                             "pastes clipboard entries into the focused window");
        m_fakeInput = true;
        connection->flush();
    }
}

WaylandKeyInjector::~WaylandKeyInjector()
{
    if (m_state)
        xkb_state_unref(m_state);
    if (m_keymap)
        xkb_keymap_unref(m_keymap);
    if (m_context)
        xkb_context_unref(m_context);
}

bool WaylandKeyInjector::canInject()
{
    return m_connection->connected() && (m_keyboard || m_fakeInput);
}

quint32 WaylandKeyInjector::keycodeFor(quint32 virtualKey) const
{
    const xkb_keysym_t wanted = xkb_keysym_t(X11Keys::keysymForVirtualKey(virtualKey));
    if (!wanted || !m_keymap)
        return 0;
    for (xkb_keycode_t code = xkb_keymap_min_keycode(m_keymap); code <= xkb_keymap_max_keycode(m_keymap); ++code) {
        const xkb_keysym_t *syms = nullptr;
        const int count = xkb_keymap_key_get_syms_by_level(m_keymap, code, 0, 0, &syms);
        for (int i = 0; i < count; ++i) {
            if (syms[i] == wanted)
                return code;
        }
    }
    return 0;
}

bool WaylandKeyInjector::sendKey(quint32 virtualKey, bool down)
{
    if (!canInject()) {
        qWarning("KeyInjector: this Wayland desktop lets no program type into other windows");
        return false;
    }
    const quint32 keycode = keycodeFor(virtualKey);
    if (keycode == 0) {
        qWarning("KeyInjector: virtual key 0x%x has no key code on this keyboard", virtualKey);
        return false;
    }
    m_queue.enqueue(KeyEvent{keycode, down});
    sendNext();
    return true;
}

void WaylandKeyInjector::sendNext()
{
    if (m_busy || m_queue.isEmpty() || !m_connection->connected())
        return;
    const KeyEvent event = m_queue.dequeue();
    const uint32_t state = event.down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED;
    if (m_keyboard) {
        zwp_virtual_keyboard_v1_key(m_keyboard, eventTime(), event.keycode - 8, state);
        // The compositor forwards modifiers only as it is told them.
        xkb_state_update_key(m_state, event.keycode, event.down ? XKB_KEY_DOWN : XKB_KEY_UP);
        zwp_virtual_keyboard_v1_modifiers(m_keyboard, xkb_state_serialize_mods(m_state, XKB_STATE_MODS_DEPRESSED),
                                          xkb_state_serialize_mods(m_state, XKB_STATE_MODS_LATCHED),
                                          xkb_state_serialize_mods(m_state, XKB_STATE_MODS_LOCKED),
                                          xkb_state_serialize_layout(m_state, XKB_STATE_LAYOUT_EFFECTIVE));
    } else {
        org_kde_kwin_fake_input_keyboard_key(m_connection->fakeInput(), event.keycode - 8, state);
    }
    m_busy = true;
    wl_callback *sync = wl_display_sync(m_connection->display());
    wl_callback_add_listener(sync, &kSyncListener, this);
    m_connection->flush();
}

void WaylandKeyInjector::onSynced(void *data, wl_callback *callback, uint32_t)
{
    wl_callback_destroy(callback);
    auto *self = static_cast<WaylandKeyInjector *>(data);
    QTimer::singleShot(kPaceMs, self, [self] {
        self->m_busy = false;
        self->sendNext();
    });
}
