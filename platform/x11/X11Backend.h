#pragma once

class KeyInjector;
class HotKeyRegistrar;
class SystemClipboard;

// The X11 implementations (XTest, root-window grabs, Qt's X11 clipboard).
namespace X11Backend {
KeyInjector *keyInjector();
HotKeyRegistrar *hotKeyRegistrar();
SystemClipboard *clipboard();
} // namespace X11Backend
