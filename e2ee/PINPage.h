#pragma once

#include <QWizardPage>

class QLabel;
class QLineEdit;

// One PIN entry of the PIN wizard: 0 the current PIN, 1 the new PIN, 2 the new
// PIN again. The entry is the wizard field "pin0", "pin1" or "pin2".
class PINPage : public QWizardPage
{
    Q_OBJECT

public:
    // New PINs are at least this long: each guess costs one slow hash, so length is
    // what keeps guessing expensive.
    static constexpr int kMinNewPinLength = 6;
    static QString tooShortText();

    explicit PINPage(int index, QWidget *parent = nullptr);

    int index() const { return m_index; }
    QLineEdit *edit() const { return m_edit; }
    bool validatePage() override;

private:
    int m_index;
    QLabel *m_label = nullptr;
    QLineEdit *m_edit = nullptr;
};
