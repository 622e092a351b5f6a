#include "e2ee/AccountPwdWizardPage.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

AccountPwdWizardPage::AccountPwdWizardPage(QWidget *parent)
    : QWizardPage(parent)
{
    setTitle(tr("登录密码验证"));
    setSubTitle(tr("请输入当前帐号登录密码"));
    m_edit = new QLineEdit(this);
    m_edit->setEchoMode(QLineEdit::Password);
    auto *layout = new QFormLayout(this);
    layout->addRow(new QLabel(tr("登录密码"), this), m_edit);
    registerField(QStringLiteral("pwd"), m_edit);
}

bool AccountPwdWizardPage::validatePage()
{
    return !m_edit->text().isEmpty();
}
