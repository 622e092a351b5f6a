#include "platform/KeyInjector.h"
#include "platform/x11/VirtualKeys.h"
#include "platform/x11/X11Backend.h"

#include <QX11Info>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace {

// XTest fake events on the application's own display connection. The server
// delivers them like real key strokes to whichever window has the focus.
class X11KeyInjector final : public KeyInjector
{
public:
    bool sendKey(quint32 virtualKey, bool down) override
    {
        Display *display = QX11Info::isPlatformX11() ? QX11Info::display() : nullptr;
        if (!display) {
            qWarning("KeyInjector: no X11 display, key strokes cannot be sent");
            return false;
        }
        if (!hasXTest(display))
            return false;
        const KeySym keysym = X11Keys::keysymForVirtualKey(virtualKey);
        const KeyCode keycode = keysym ? XKeysymToKeycode(display, keysym) : 0;
        if (keycode == 0) {
            qWarning("KeyInjector: virtual key 0x%x has no key code on this keyboard", virtualKey);
            return false;
        }
        const bool sent = XTestFakeKeyEvent(display, keycode, down ? True : False, CurrentTime) != 0;
        XFlush(display);
        return sent;
    }

    bool canInject() override
    {
        Display *display = QX11Info::isPlatformX11() ? QX11Info::display() : nullptr;
        return display && hasXTest(display);
    }

private:
    bool hasXTest(Display *display)
    {
        if (m_checked)
            return m_available;
        int eventBase = 0, errorBase = 0, major = 0, minor = 0;
        m_available = XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor) != 0;
        m_checked = true;
        if (!m_available)
            qWarning("KeyInjector: the X server has no XTEST extension, key strokes cannot be sent");
        return m_available;
    }

    bool m_checked = false;
    bool m_available = false;
};

} // namespace

KeyInjector *X11Backend::keyInjector()
{
    static X11KeyInjector injector;
    return &injector;
}
