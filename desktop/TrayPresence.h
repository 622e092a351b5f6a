#pragma once

#include "app/OnceOnly.h"
#include "net/AccountFlow.h"

#include <QObject>
#include <QSystemTrayIcon>

class MainWindow;
class QGlobalShortcut;
class QImage;
struct HotKeyChoice;

// What the program shows while no window is open: the tray icon and its
// balloons, the global hot key, and the way into the settings window, which is
// made only when the user (or a reply that must be shown) first asks for it.
class TrayPresence : public QObject
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(TrayPresence)

public:
    QSystemTrayIcon *trayIcon() const { return m_trayIcon; }
    QGlobalShortcut *shortcut() const { return m_shortcut; }

    // Registers the choice; none releases the key, an incomplete one keeps
    // what is registered.
    void useHotKey(const HotKeyChoice &choice);

public Q_SLOTS:
    void showClipboardNotice(const QString &text, const QImage &image);
    void showTrayNotice(const QString &text);
    void keyPressed();
    void systemTrayClick(QSystemTrayIcon::ActivationReason reason);
    void showEncryptWindow();

private:
    TrayPresence();

    void showFirstStartBalloon();
    // Outcomes that need the settings window even when it was never opened;
    // once it exists it takes them itself.
    void connectWindowOutcomes();

    QSystemTrayIcon *m_trayIcon = nullptr;
    QGlobalShortcut *m_shortcut = nullptr;
};
