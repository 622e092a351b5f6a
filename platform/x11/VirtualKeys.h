#pragma once

#include <QtGlobal>

namespace X11Keys {

// The X keysym for a Windows-style virtual-key code, or 0 when there is none.
// Letters give the lower-case keysym, which is what keyboard maps list first.
unsigned long keysymForVirtualKey(quint32 virtualKey);

} // namespace X11Keys
