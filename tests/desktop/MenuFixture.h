#pragma once

// Reading and driving the tray menu the way a user does: item texts in order,
// hovering an entry so its sub-menu is built, and triggering an operation.

#include "desktop/MenuManager.h"
#include "store/StoreEvents.h"

#include <QtTest>
#include <QtWidgets>

namespace MenuFixture {

// Item texts in order; "|" for a separator, sub-menus as "<title>>".
inline QStringList texts(const QMenu *menu)
{
    QStringList out;
    for (const QAction *a : menu->actions()) {
        if (a->isSeparator())
            out << QStringLiteral("|");
        else if (a->menu() && !a->data().isValid())
            out << a->text() + QLatin1Char('>');
        else
            out << a->text();
    }
    return out;
}

// Without the separators.
inline QStringList labels(const QMenu *menu)
{
    QStringList out = texts(menu);
    out.removeAll(QStringLiteral("|"));
    return out;
}

inline QAction *find(const QMenu *menu, const QString &text)
{
    for (QAction *a : menu->actions()) {
        if (a->text() == text)
            return a;
    }
    return nullptr;
}

// The menus as the user sees them: the store's pending change notice is delivered
// and the menu rebuilt if it is dirty, as happens before it is shown.
inline void refreshMenu()
{
    QCoreApplication::sendPostedEvents(StoreEvents::instance(), QEvent::MetaCall);
    MenuManager::instance()->refresh();
}
inline QMenu *mainMenu()
{
    refreshMenu();
    return MenuManager::instance()->menu();
}
inline QMenu *favourites()
{
    refreshMenu();
    return MenuManager::instance()->favouriteMenu();
}

// The entry's sub-menu after the pointer rested on it (reported through the main
// menu's hover signal, as the framework does for its sub-menus too).
inline QMenu *hover(QAction *entry)
{
    Q_EMIT mainMenu()->hovered(entry);
    return entry->menu();
}

// Open means shown and mapped by the X server; closed also waits until the
// application has settled its focus (the X focus reverts after the unmap), so a
// menu opened next is not hit by the previous one's focus change.
inline bool isOpen(const QMenu *menu)
{
    return menu->isVisible() && menu->windowHandle() && menu->windowHandle()->isExposed();
}

inline void waitClosed(QMenu *menu)
{
    QTRY_VERIFY(!menu->isVisible() && !menu->windowHandle()->isExposed() && !QGuiApplication::focusWindow());
}

inline void closeMenu(QMenu *menu)
{
    QTRY_VERIFY(isOpen(menu));
    menu->hide();
    waitClosed(menu);
}

inline void trigger(QMenu *menu, const QString &entryText, const QString &operation)
{
    QAction *entry = find(menu, entryText);
    QVERIFY2(entry, qPrintable(entryText));
    QAction *op = find(hover(entry), operation);
    QVERIFY2(op, qPrintable(operation));
    op->trigger();
}

} // namespace MenuFixture
