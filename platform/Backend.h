#pragma once

#include <QString>

// Which desktop services the program talks to: X11 (also through XWayland), or a
// Wayland compositor directly. Decided once per process.
namespace PlatformBackend {

enum class Kind { X11, Wayland };

// Looks at the session before the application object exists: with WAYLAND_DISPLAY
// set and a compositor that lets an unfocused client watch and set the clipboard,
// the Wayland backend is used; otherwise X11, and under a Wayland session without
// that the GUI is forced onto XWayland (QT_QPA_PLATFORM=xcb). Returns a line for
// the log describing the choice, empty when there is nothing to say.
QString chooseBeforeApplication();

// The backend in use; decided from the environment on first use when
// chooseBeforeApplication() was not called.
Kind kind();
QString name();

} // namespace PlatformBackend
