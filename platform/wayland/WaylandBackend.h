#pragma once

class KeyInjector;
class HotKeyRegistrar;
class SystemClipboard;

// The Wayland implementations: data-control for the clipboard, the virtual
// keyboard (wlroots) or KWin's fake input for key strokes, no hot keys of its own.
namespace WaylandBackend {

struct Globals {
    bool connected = false;
    bool dataControl = false;
    bool virtualKeyboard = false;
    bool fakeInput = false;
};

// Connects to WAYLAND_DISPLAY just long enough to read the compositor's globals.
Globals probe();

KeyInjector *keyInjector();
HotKeyRegistrar *hotKeyRegistrar();
SystemClipboard *clipboard();

} // namespace WaylandBackend
