#pragma once

class KeyInjector;
class HotKeyRegistrar;
class SystemClipboard;

// The X11 implementations (XTest, root-window grabs, the clipboard: changes and
// writes through Qt, other programs' content read through a connection of its own).
namespace X11Backend {
KeyInjector *keyInjector();
HotKeyRegistrar *hotKeyRegistrar();
SystemClipboard *clipboard();
} // namespace X11Backend
