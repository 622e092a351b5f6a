#pragma once

// Makes the compiled-in icons (":/tray.png", ":/lock", ...) available. Safe to call
// more than once; the windows and the menu call it before they use an icon.
void ensureIcons();
