#pragma once

#include "app/OnceOnly.h"
#include "e2ee/ZeroManager.h"

#include <QMainWindow>
#include <QVariantMap>

class CBaseRequest;
class CRequestSyncPublicKey;
class CRequestZeroGet;
class CRequestZeroModify;
class CRequestZeroPush;
class CRequestZeroRevert;
class PINWizard;

namespace Ui {
class EncryptWindow;
}

// Turns end-to-end encryption on, unlocks the account's key on a new device,
// changes the PIN, or destroys and resets the key archive. Every outcome ends in
// a message box; while a flow runs the window is disabled.
class EncryptWindow : public QMainWindow
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(EncryptWindow)

public:
    ~EncryptWindow() override;

    void refresh();
    bool isBusy() const { return m_busy; }
    void setBusy(bool busy);
    // The wizard on screen, or the last one shown (for tests and screenshots).
    PINWizard *wizard() const { return m_wizard; }

public Q_SLOTS:
    void activeClicked();
    void revertClicked();
    void helpClicked();

private:
    EncryptWindow();

    void startWizard(int mode);
    void showWizard(int mode);
    void wizardRejected();
    // The shared first steps of every key reply: deletes the request and, for a
    // transport failure or a reply that is not JSON, shows its box and returns false.
    bool replyUsable(CBaseRequest *request, const QVariant &var, bool moreFollows);
    void finishWith(const QString &text);

    void keyFetchFinish(CBaseRequest *request, QVariant var);
    // What a key push is for: a first key, a wrap of the first construction replaced
    // after an unlock, or a PIN change over such a wrap.
    enum class PushPurpose { Activation, Rewrap, PinChange };

    void unlockEntered(const QVariantMap &pins);
    void unlockFinished(bool imported);
    void activationEntered(const QVariantMap &pins);
    void sendKeyPush(const QVariantMap &dictionary, PushPurpose purpose);
    void keyPushFinish(CBaseRequest *request, QVariant var);
    void changeEntered(const QVariantMap &pins);
    void changePrepared(const ZeroManager::PinChange &change);
    void keyModifyFinish(CBaseRequest *request, QVariant var);
    void resetEntered(const QVariantMap &pins);
    void publicKeyFinish(CBaseRequest *request, QVariant var);
    void keyResetFinish(CBaseRequest *request, QVariant var);

    Ui::EncryptWindow *ui;
    PINWizard *m_wizard = nullptr;
    CRequestZeroGet *m_keyFetch = nullptr;
    CRequestZeroPush *m_keyPush = nullptr;
    CRequestZeroModify *m_keyModify = nullptr;
    CRequestZeroRevert *m_keyReset = nullptr;
    CRequestSyncPublicKey *m_publicKeyFetch = nullptr;
    bool m_busy = false;
    PushPurpose m_pushPurpose = PushPurpose::Activation;

    // The server's key dictionary the unlock wizard opens.
    QVariantMap m_fetchedKey;
    // The reset wizard's entries, kept while the public key is fetched.
    QVariantMap m_resetEntries;
};
