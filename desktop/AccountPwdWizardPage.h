#pragma once

#include <QWizardPage>

class QLineEdit;

// The account password a key reset needs; the wizard field "pwd".
class AccountPwdWizardPage : public QWizardPage
{
    Q_OBJECT

public:
    explicit AccountPwdWizardPage(QWidget *parent = nullptr);

    QLineEdit *edit() const { return m_edit; }
    bool validatePage() override;

private:
    QLineEdit *m_edit = nullptr;
};
