#pragma once

#include <QVariantMap>
#include <QWizard>

// Collects the PINs (and for a reset the account password) of one key flow. On
// acceptance it hands the non-empty entries over as "pwd", "last_pin", "new_pin".
class PINWizard : public QWizard
{
    Q_OBJECT

public:
    enum Mode { Unlock = 0, Activate = 1, ChangePin = 2, Reset = 3 };

    PINWizard(QWidget *parent, int mode);

    int mode() const { return m_mode; }
    // Only the change-PIN wizard has a current-PIN page to compare the new PIN with.
    bool asksCurrentPin() const { return m_mode == ChangePin; }
    QVariantMap result() const;

Q_SIGNALS:
    void resultHandler(QVariantMap PINDict);

private:
    void clearEntries();

    int m_mode;
};
