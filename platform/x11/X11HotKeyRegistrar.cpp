#include "platform/HotKeyRegistrar.h"
#include "platform/x11/VirtualKeys.h"
#include "platform/x11/X11Backend.h"

#include <QHash>
#include <QVector>
#include <QX11Info>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>

namespace {

int g_grabError = 0;

int recordGrabError(Display *, XErrorEvent *event)
{
    g_grabError = event->error_code;
    return 0;
}

// Passive grabs on the root window. X compares the whole modifier state, so each
// combination is grabbed four times: plain, with Caps Lock, with Num Lock and with
// both, or the hot key would die whenever one of the locks is on.
class X11HotKeyRegistrar final : public HotKeyRegistrar
{
public:
    bool registerHotKey(quint32 id, quint32 modifiers, quint32 virtualKey) override
    {
        Display *display = x11Display();
        if (!display)
            return false;
        if (m_grabs.contains(id))
            unregisterHotKey(id);
        const KeySym keysym = X11Keys::keysymForVirtualKey(virtualKey);
        const KeyCode keycode = keysym ? XKeysymToKeycode(display, keysym) : 0;
        if (keycode == 0) {
            qWarning("HotKeyRegistrar: virtual key 0x%x has no key code on this keyboard", virtualKey);
            return false;
        }
        const Grab grab{keycode, x11Modifiers(modifiers)};
        const Window root = QX11Info::appRootWindow();

        // A grab another client already holds fails asynchronously with BadAccess;
        // sync under a private handler so the failure is known here.
        g_grabError = 0;
        XErrorHandler previous = XSetErrorHandler(recordGrabError);
        for (unsigned int locks : lockVariants(display))
            XGrabKey(display, keycode, grab.modifiers | locks, root, True, GrabModeAsync, GrabModeAsync);
        XSync(display, False);
        XSetErrorHandler(previous);

        if (g_grabError != 0) {
            qWarning("HotKeyRegistrar: the hot key 0x%x (modifiers %u) is taken by another program", virtualKey,
                     modifiers);
            ungrab(display, grab);
            return false;
        }
        m_grabs.insert(id, grab);
        return true;
    }

    bool unregisterHotKey(quint32 id) override
    {
        const auto it = m_grabs.find(id);
        if (it == m_grabs.end())
            return false;
        const Grab grab = *it;
        m_grabs.erase(it);
        if (Display *display = x11Display())
            ungrab(display, grab);
        return true;
    }

    Event inspect(const QByteArray &eventType, void *message) const override
    {
        Event result;
        if (m_grabs.isEmpty() || eventType != "xcb_generic_event_t" || !message)
            return result;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        const uint8_t type = event->response_type & ~0x80;
        if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
            return result;
        const auto *key = static_cast<const xcb_key_press_event_t *>(message);
        if (key->event != QX11Info::appRootWindow())
            return result;
        const unsigned int state = key->state & kRelevantModifiers;
        for (auto it = m_grabs.cbegin(); it != m_grabs.cend(); ++it) {
            if (it->keycode == key->detail && it->modifiers == state) {
                result.hotKey = true;
                result.pressed = type == XCB_KEY_PRESS;
                result.id = it.key();
                break;
            }
        }
        return result;
    }

private:
    struct Grab {
        KeyCode keycode;
        unsigned int modifiers;
    };

    static constexpr unsigned int kRelevantModifiers = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;

    static Display *x11Display()
    {
        Display *display = QX11Info::isPlatformX11() ? QX11Info::display() : nullptr;
        if (!display)
            qWarning("HotKeyRegistrar: no X11 display, global hot keys are not available");
        return display;
    }

    static unsigned int x11Modifiers(quint32 native)
    {
        unsigned int mods = 0;
        if (native & Alt)
            mods |= Mod1Mask;
        if (native & Control)
            mods |= ControlMask;
        if (native & Shift)
            mods |= ShiftMask;
        if (native & Meta)
            mods |= Mod4Mask;
        return mods;
    }

    // The modifier bit the keyboard map gives Num Lock (usually Mod2).
    static unsigned int numLockMask(Display *display)
    {
        const KeyCode numLock = XKeysymToKeycode(display, XK_Num_Lock);
        XModifierKeymap *map = XGetModifierMapping(display);
        unsigned int mask = 0;
        if (map && numLock != 0) {
            for (int mod = 0; mod < 8 && mask == 0; ++mod) {
                for (int k = 0; k < map->max_keypermod; ++k) {
                    if (map->modifiermap[mod * map->max_keypermod + k] == numLock) {
                        mask = 1u << mod;
                        break;
                    }
                }
            }
        }
        if (map)
            XFreeModifiermap(map);
        return mask;
    }

    static QVector<unsigned int> lockVariants(Display *display)
    {
        const unsigned int num = numLockMask(display);
        QVector<unsigned int> variants{0, LockMask};
        if (num != 0 && num != LockMask)
            variants << num << (num | LockMask);
        return variants;
    }

    static void ungrab(Display *display, const Grab &grab)
    {
        const Window root = QX11Info::appRootWindow();
        for (unsigned int locks : lockVariants(display))
            XUngrabKey(display, grab.keycode, grab.modifiers | locks, root);
        XFlush(display);
    }

    QHash<quint32, Grab> m_grabs;
};

} // namespace

HotKeyRegistrar *X11Backend::hotKeyRegistrar()
{
    static X11HotKeyRegistrar registrar;
    return &registrar;
}
