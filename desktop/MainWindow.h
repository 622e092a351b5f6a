#pragma once

#include "app/OnceOnly.h"
#include "net/AccountFlow.h"

#include "desktop/TrayPresence.h"

#include <QMainWindow>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QVariant>

class CBaseRequest;
class QGlobalShortcut;
class QImage;
class QStringListModel;
struct HotKeyChoice;

namespace Ui {
class MainWindow;
}

// The settings window. Made when first asked for (TrayPresence opens it) and
// never destroyed: closing it only hides it.
class MainWindow : public QMainWindow
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(MainWindow)

public:
    ~MainWindow() override;
    // The window if it was made already, else null.
    static MainWindow *existing();

    enum Tab { TabSetting = 0, TabAccount = 1, TabPrivacy = 2, TabAbout = 3 };
    // Shows the window with the given tab selected and brings it to the front.
    void showTab(int index);

    void updateLoginUi();
    // A tray balloon telling that an entry from another device is on the clipboard.
    void showClipboardNotice(const QString &text, const QImage &image);
    // A short tray balloon about something the user just asked for.
    void showTrayNotice(const QString &text);
    void alert(const QString &text);

    // The tray icon and the hot key belong to TrayPresence.
    QSystemTrayIcon *trayIcon() const { return TrayPresence::instance()->trayIcon(); }
    QGlobalShortcut *shortcut() const { return TrayPresence::instance()->shortcut(); }

public Q_SLOTS:
    void test();
    void logoutButtonClicked();
    void clearButtonClicked();
    void radioChange(bool change);
    void loginButtonClicked();
    void autoStartCheck(bool checkValue);
    void menuCleanupCheck(bool checkValue);
    void tabChanged(int index);
    void systemTrayClick(QSystemTrayIcon::ActivationReason reason);
    void checkUpdate();
    void gotoHomePage();
    void exportButtonClicked();
    void comBoxChanged(int index);
    void comBoxMChanged(int index);
    void comBoxLChanged(int index);
    void comBoxPChanged(int index);
    void addButtonClicked();
    void removeButtonClickec();
    void commitData(QWidget *widget);
    void checkSecert(bool checkValue);
    void fileAsSecertClicked(bool checkValue);
    void keyPressed();
    void autoSetClipboard(bool checkValue);
    void showEncryptWindow();
    void showMQTTerr();
    void sendLog();

    // The handshake and version replies, for requests sent by others.
    void initRequestFinish(CBaseRequest *request, QVariant var);
    void checkUpdateRequestFinish(CBaseRequest *request, QVariant var);
    void startupCheckUpdateRequestFinish(CBaseRequest *request, QVariant var);

private Q_SLOTS:
    void historyCleared(bool ok, qint64 count);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    MainWindow();
    friend class TrayPresence;

    // The sign-in and sign-up tabs as the account stands, without fetching anything.
    void layoutLoginTabs();
    void connectControls();
    void presetHotKeyBoxes();
    HotKeyChoice boxChoice() const;
    void updateHotKey();
    // The user's keywords live in ConfigureManager; the model is the list's view of them.
    void loadKeywords();
    void storeKeywords();

    // The account tab (MainWindowAccount.cpp): what the user typed goes to the
    // account flow, its outcomes come back as boxes.
    void connectAccountFlow();
    void startAccountRequest(const QString &address);
    void sessionEnded();
    void keyFailed(AccountFlow::Outcome outcome);
    void signInFinished(AccountFlow::Outcome outcome);
    void signUpFinished(AccountFlow::Outcome outcome);
    void resetFinished(AccountFlow::Outcome outcome);
    void versionChecked(bool fromButton, AccountFlow::Version state, const QString &version,
                        const QString &updateInfo, const QString &downloadUrl);
    void inform(const QString &text, const QString &informative);

    Ui::MainWindow *ui;
    QStringListModel *m_keywordModel = nullptr;
    // The clear under way was asked for with the clear button.
    bool m_clearAsked = false;
};
