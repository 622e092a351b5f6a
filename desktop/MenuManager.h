#pragma once

#include "app/OnceOnly.h"
#include "store/History.h"

#include <QObject>
#include <QVariant>

class QAction;
class QMenu;

// The tray menu: the newest entries, the favourites and the global commands. It is
// also the hot key's popup. A change of the store marks it dirty; it is rebuilt
// just before it is shown (or measured), once however many changes came. Each
// entry's operations sub-menu is built the first time the pointer rests on the entry.
class MenuManager : public QObject
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(MenuManager)

public:
    QMenu *menu() const { return m_menu; }
    QMenu *favouriteMenu() const { return m_favouriteMenu; }

    // Rebuilds the menu when the store or a setting it shows changed since the last build.
    void refresh();

Q_SIGNALS:
    // What the menu asks of the settings window, which listens (the menu knows no window).
    void noticeRequested(const QString &text);
    void accountRequested();
    void settingsRequested();
    void encryptWindowRequested();

public Q_SLOTS:
    void login();
    void setting();
    // Rebuilds the menu now.
    void updateMenu();
    // Something the menu shows changed: rebuild before it is shown next (at once when open).
    void markDirty();
    void openPlugin();
    void syncFav();
    void hovered(QAction *action);
    void activeZero();
    void pull();
    // The two paste keystrokes: Shift+Ctrl+V and Shift+Insert.
    void pasteV();
    void pasteCV();

private Q_SLOTS:
    void item_clicked();
    void batch_clicked();
    void plugin_clicked();
    void delete_clicked();
    void quit();
    void cleanup();
    void saveImageClicked();
    void saveFileClicked();
    void unlockSecertClick();
    QAction *ActionFromHistory(History &history);

private:
    MenuManager();

    // What the menu shows besides the entries: sign-in, new version, the cleanup item, the key.
    QString commandState() const;
    void rebuildFavourites();
    void appendEntries(QMenu *menu, const HistoryList &records);
    QMenu *subMenuFor(const History &record);
    void pasteLater();
    // The record carried by the item that triggered the running slot.
    History senderRecord() const;

    void appendPluginItems(QMenu *subMenu, const History &record);
    void runPlugin(const History &record, const QVariant &plugin);
    void showPluginWindow();

    // The windows the menu opens.
    bool needsEncryptionKey() const;
    void showEncryptWindow();
    void disconnectBroker();

    QMenu *m_menu = nullptr;
    QMenu *m_favouriteMenu = nullptr;
    bool m_dirty = true;
    QString m_builtState;
};
