#pragma once

#include "app/OnceOnly.h"
#include "net/KeyFlow.h"

#include <QMainWindow>
#include <QVariantMap>

class PINWizard;

namespace Ui {
class EncryptWindow;
}

// Turns end-to-end encryption on, unlocks the account's key on a new device,
// changes the PIN, or destroys and resets the key archive. Every outcome ends in
// a message box; while a flow runs the window is disabled. The exchanges with
// the service are KeyFlow's; the window chooses the wizards and the messages.
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
    void showFailure(KeyFlow::Outcome outcome);

    void keyFetched(KeyFlow::Outcome outcome);
    void unlockEntered(const QVariantMap &pins);
    void unlockFinished(bool imported);
    void activationEntered(const QVariantMap &pins);
    void activationFinished(KeyFlow::Outcome outcome);
    void changeEntered(const QVariantMap &pins);
    void pinChangeFinished(KeyFlow::Outcome outcome);
    void resetEntered(const QVariantMap &pins);
    void resetFinished(KeyFlow::Outcome outcome);

    Ui::EncryptWindow *ui;
    PINWizard *m_wizard = nullptr;
    bool m_busy = false;
};
