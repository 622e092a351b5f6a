#pragma once

#include <QByteArray>
#include <QtGlobal>

// System-wide hot keys. A hot key is named by an identifier chosen by the caller
// and described by Windows-style native modifier flags and a virtual-key code;
// the backend grabs the matching key on the desktop and recognises its key
// presses among the native events the application receives.
class HotKeyRegistrar
{
public:
    enum Modifier : quint32 { Alt = 1, Control = 2, Shift = 4, Meta = 8 };

    struct Event {
        bool hotKey = false;  // the event belongs to a registered hot key
        bool pressed = false; // a key press (releases are reported with false)
        quint32 id = 0;
    };

    virtual ~HotKeyRegistrar() = default;

    // False when the key cannot be grabbed (no display, no key code, or another
    // program holds the combination).
    virtual bool registerHotKey(quint32 id, quint32 modifiers, quint32 virtualKey) = 0;
    virtual bool unregisterHotKey(quint32 id) = 0;
    // Looks at one native event as handed to a native event filter.
    virtual Event inspect(const QByteArray &eventType, void *message) const = 0;

    // False in "external trigger" mode: the desktop grabs no keys for programs, and
    // the user binds a key to `zorvel --show` in the desktop's own settings.
    virtual bool registersItself() const { return true; }

    // The desktop's registrar, shared by the whole process.
    static HotKeyRegistrar *system();
};
