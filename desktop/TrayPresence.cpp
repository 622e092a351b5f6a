#include "desktop/TrayPresence.h"

#include "app/Constants.h"
#include "app/Logging.h"
#include "app/clipUtils.h"
#include "desktop/EncryptWindow.h"
#include "desktop/HotKeyChoice.h"
#include "desktop/Icons.h"
#include "desktop/MainWindow.h"
#include "desktop/MenuManager.h"
#include "desktop/QGlobalShortcut.h"
#include "e2ee/ZeroManager.h"
#include "net/EntryActions.h"
#include "net/SyncHandOver.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSettings>

using namespace Zorvel;

namespace {

// The texts were first written in the settings window; they keep its translations.
QString windowText(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

const char *const kUpdatedTitle = QT_TRANSLATE_NOOP("MainWindow", "剪贴板已更新");

} // namespace

TrayPresence::TrayPresence()
{
    ensureIcons();
    m_trayIcon = new QSystemTrayIcon(this);
    m_trayIcon->setIcon(pngIcon(QStringLiteral(":/tray.png")));
    m_trayIcon->setToolTip(QStringLiteral("Zorvel"));
    MenuManager *menu = MenuManager::instance();
    m_trayIcon->setContextMenu(menu->menu());
    m_trayIcon->setVisible(true);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &TrayPresence::systemTrayClick);
    connect(menu, &MenuManager::noticeRequested, this, &TrayPresence::showTrayNotice);
    connect(menu, &MenuManager::accountRequested, this,
            [] { MainWindow::instance()->showTab(MainWindow::TabAccount); });
    connect(menu, &MenuManager::settingsRequested, this, [] {
        MainWindow::instance()->showTab(clipUtils::hasNewVersion() ? MainWindow::TabAbout : MainWindow::TabSetting);
    });
    connect(menu, &MenuManager::encryptWindowRequested, this, &TrayPresence::showEncryptWindow);
    connectWindowOutcomes();
    // Signed in: what the other devices stored meanwhile (signed out these do nothing).
    EntryActions::instance()->pull();
    EntryActions::instance()->syncFavourites();

    if (!QSystemTrayIcon::isSystemTrayAvailable())
        qInfo("No system tray on this desktop: the hot key opens the menu");
    showFirstStartBalloon();

    m_shortcut = new QGlobalShortcut(this);
    connect(m_shortcut, &QGlobalShortcut::activated, this, &TrayPresence::keyPressed);
    useHotKey(HotKeyChoice::load().offered());

    AccountFlow::instance()->sendStartupRequests();
    ZeroManager::instance();
}

void TrayPresence::connectWindowOutcomes()
{
    AccountFlow *flow = AccountFlow::instance();
    connect(flow, &AccountFlow::versionChecked, this,
            [](bool fromButton, AccountFlow::Version state, const QString &version, const QString &updateInfo,
               const QString &downloadUrl) {
                // Only the start-up check can find a newer version with no window open.
                if (!MainWindow::existing() && !fromButton && state == AccountFlow::Version::Newer)
                    MainWindow::instance()->versionChecked(fromButton, state, version, updateInfo, downloadUrl);
            });
    connect(flow, &AccountFlow::sessionExpired, this, [] {
        if (!MainWindow::existing())
            MainWindow::instance()->logoutButtonClicked();
    });
    // Decided when the session ends, shown on the next turn as the window does.
    connect(SyncHandOver::instance(), &SyncHandOver::sessionEnded, this, [this] {
        if (!MainWindow::existing())
            QMetaObject::invokeMethod(this, [] { MainWindow::instance()->sessionEnded(); }, Qt::QueuedConnection);
    });
}

void TrayPresence::showFirstStartBalloon()
{
    QSettings *settings = clipUtils::settings();
    if (settings->value(QLatin1String(Key::FirstShow), 0).toInt() != 0)
        return;
    // Names the two ways in: the tray icon and the hot key (when one is set).
    const HotKeyChoice hotKey = HotKeyChoice::load();
    // Spelled as the settings boxes show it ("Shift+Alt+V"); Qt would say "Alt+Shift+V".
    QStringList keys{hotKey.first, hotKey.middle, hotKey.last.toUpper()};
    keys.removeAll(QString());
    const QString text = hotKey.isComplete()
        ? windowText(QT_TRANSLATE_NOOP("MainWindow", "Zorvel在任务栏：点击托盘图标或按 %1 打开剪贴板历史")).arg(keys.join(QLatin1Char('+')))
        : windowText(QT_TRANSLATE_NOOP("MainWindow", "Zorvel在任务栏：点击托盘图标打开剪贴板历史"));
    m_trayIcon->showMessage(QStringLiteral("Zorvel"), text, QSystemTrayIcon::Information, kFirstShowBalloonMs);
    settings->setValue(QLatin1String(Key::FirstShow), 1);
}

void TrayPresence::useHotKey(const HotKeyChoice &choice)
{
    if (choice.isNone()) {
        m_shortcut->setKey(QKeySequence());
        return;
    }
    // Grabbing a modifier alone or a bare letter would take that key away from
    // every other program; such a choice is left unregistered.
    if (!choice.isComplete()) {
        qWarning("Hot key \"%s\" ignored: it needs a letter and at least one modifier", qPrintable(choice.text()));
        return;
    }
    m_shortcut->setKey(choice.sequence());
}

void TrayPresence::showClipboardNotice(const QString &text, const QImage &image)
{
    if (!text.isEmpty())
        m_trayIcon->showMessage(windowText(kUpdatedTitle), text, QSystemTrayIcon::Information, kClipboardNoticeMs);
    if (!image.isNull())
        m_trayIcon->showMessage(windowText(kUpdatedTitle), QString(), QIcon(QPixmap::fromImage(image)),
                                kClipboardNoticeMs);
}

void TrayPresence::showTrayNotice(const QString &text)
{
    qInfo("notice: %s", qPrintable(text));
    m_trayIcon->showMessage(QStringLiteral("Zorvel"), text, QSystemTrayIcon::Information, kClipboardNoticeMs);
}

void TrayPresence::systemTrayClick(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger: {
        qCDebug(lcDesktop, "trigger");
        MenuManager::instance()->refresh(); // measured before it is shown
        QMenu *menu = MenuManager::instance()->menu();
        const QPoint pointer = QCursor::pos();
        menu->move(pointer.x(), qRound(pointer.y() - double(menu->sizeHint().height())));
        menu->popup(pointer);
        menu->activateWindow();
        break;
    }
    case QSystemTrayIcon::Context: qCDebug(lcDesktop, "context"); break;
    case QSystemTrayIcon::DoubleClick: qCDebug(lcDesktop, "double"); break;
    case QSystemTrayIcon::MiddleClick: qCDebug(lcDesktop, "middle"); break;
    case QSystemTrayIcon::Unknown: qCDebug(lcDesktop, "unknow"); break;
    }
}

void TrayPresence::keyPressed()
{
    MenuManager::instance()->refresh(); // measured before it is shown
    QMenu *menu = MenuManager::instance()->menu();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QPoint at = QCursor::pos();
    // The size the menu will have: a menu that was never shown reports a default size.
    const int height = menu->sizeHint().height();
    if (at.y() + height > area.y() + area.height())
        at.setY(area.y() + area.height() - height);
    menu->move(at);
    menu->popup(at);
    menu->activateWindow();
}

void TrayPresence::showEncryptWindow()
{
    EncryptWindow *window = EncryptWindow::instance();
    window->show();
    window->raise();
    window->activateWindow();
}
