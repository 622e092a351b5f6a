#pragma once

#include "app/OnceOnly.h"

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

// The settings window; it owns the tray icon and the global hot key. Created
// hidden at start-up and never destroyed: closing it only hides it.
class MainWindow : public QMainWindow
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(MainWindow)

public:
    ~MainWindow() override;

    enum Tab { TabSetting = 0, TabAccount = 1, TabPrivacy = 2, TabAbout = 3 };
    // Shows the window with the given tab selected and brings it to the front.
    void showTab(int index);

    void updateLoginUi();
    // A tray balloon telling that an entry from another device is on the clipboard.
    void showClipboardNotice(const QString &text, const QImage &image);
    // A short tray balloon about something the user just asked for.
    void showTrayNotice(const QString &text);
    void alert(const QString &text);

    QSystemTrayIcon *trayIcon() const { return m_trayIcon; }
    QGlobalShortcut *shortcut() const { return m_shortcut; }

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

    // Replies of the account, handshake, version and clear requests.
    void requestFinish(CBaseRequest *request, QVariant var);
    void registerRequestFinish(CBaseRequest *request, QVariant var);
    void initRequestFinish(CBaseRequest *request, QVariant var);
    void checkUpdateRequestFinish(CBaseRequest *request, QVariant var);
    void startupCheckUpdateRequestFinish(CBaseRequest *request, QVariant var);
    void clearHistoryRequestFinish(CBaseRequest *request, QVariant var);
    void findPwdRequestFinish(CBaseRequest *request, QVariant var);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    MainWindow();

    void connectControls();
    void presetHotKeyBoxes();
    HotKeyChoice boxChoice() const;
    void updateHotKey();
    void registerHotKeyFromBoxes();
    // The user's keywords live in ConfigureManager; the model is the list's view of them.
    void loadKeywords();
    void storeKeywords();

    // The account work (MainWindowAccount.cpp): sign-in, sign-up and password
    // reset requests, the signed-in clear, and what signing out adds (the broker
    // disconnect), also when the service ended the session.
    void startAccountRequest(const QString &address);
    void clearHistorySignedIn();
    void signedOut();
    void sessionEnded();
    // Fetches the server's public key, then signs in or up.
    void startKeyRequest(const QString &address, bool signUp);
    void keyRequestFinish(CBaseRequest *request, const QVariant &var, const QString &address, bool signUp);
    void versionReply(CBaseRequest *request, const QVariant &var, bool fromButton);
    void inform(const QString &text, const QString &informative);
    void sendStartupRequests();

    // The public-key request of the sign-in or sign-up in progress.
    CBaseRequest *m_keyRequest = nullptr;
    Ui::MainWindow *ui;
    QSystemTrayIcon *m_trayIcon = nullptr;
    QStringListModel *m_keywordModel = nullptr;
    QGlobalShortcut *m_shortcut = nullptr;
};
