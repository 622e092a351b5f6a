#pragma once

#include <QIcon>

// Makes the compiled-in icons (":/tray.png", ":/lock", ...) available. Safe to call
// more than once; the windows and the menu call it before they use an icon.
void ensureIcons();

// One of the compiled-in icons (all PNG). Read as PNG only: QIcon(path) lets Qt ask
// every image plugin whether it reads the file, which loads them all (and the
// libraries behind them) into memory for good.
QIcon pngIcon(const QString &path);
