#pragma once

#include <QtGlobal>

// Synthetic key strokes for the window that has the keyboard focus. Keys are the
// Windows-style virtual-key codes the rest of the program speaks (Shift 0x10,
// Control 0x11, Insert 0x2D, the letter V 0x56); the backend translates them.
class KeyInjector
{
public:
    virtual ~KeyInjector() = default;

    // Sends one key event. False when there is no display or the key has no
    // key code on the current keyboard map.
    virtual bool sendKey(quint32 virtualKey, bool down) = 0;

    // False when the desktop lets no program type into other windows: pasting is
    // then left to the user.
    virtual bool canInject() = 0;

    // The desktop's injector, shared by the whole process.
    static KeyInjector *system();
};
