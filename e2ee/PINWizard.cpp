#include "e2ee/PINWizard.h"

#include "e2ee/AccountPwdWizardPage.h"
#include "e2ee/PINPage.h"

#include <QLineEdit>

PINWizard::PINWizard(QWidget *parent, int mode)
    : QWizard(parent)
    , m_mode(qBound(int(Unlock), mode, int(Reset)))
{
    setWindowTitle(tr("端对端加密"));
    setFixedSize(486, 283);
    switch (m_mode) {
    case Unlock:
        addPage(new PINPage(0));
        break;
    case Activate:
        addPage(new PINPage(1));
        addPage(new PINPage(2));
        break;
    case ChangePin:
        addPage(new PINPage(0));
        addPage(new PINPage(1));
        addPage(new PINPage(2));
        break;
    case Reset:
        addPage(new AccountPwdWizardPage);
        addPage(new PINPage(1));
        addPage(new PINPage(2));
        break;
    }
    // Emitted once the wizard has closed, so that a receiver may replace it.
    connect(this, &QDialog::accepted, this, [this] {
        const QVariantMap entries = result();
        clearEntries();
        Q_EMIT resultHandler(entries);
    });
    connect(this, &QDialog::rejected, this, &PINWizard::clearEntries);
}

void PINWizard::clearEntries()
{
    // The line edits would otherwise hold the PINs and the password until the wizard is deleted.
    for (QLineEdit *edit : findChildren<QLineEdit *>())
        edit->clear();
}

QVariantMap PINWizard::result() const
{
    QVariantMap map;
    const auto take = [&](const char *key, const char *fieldName, bool present) {
        if (!present)
            return;
        const QString value = field(QLatin1String(fieldName)).toString();
        if (!value.isEmpty())
            map.insert(QLatin1String(key), value);
    };
    take("pwd", "pwd", m_mode == Reset);
    take("last_pin", "pin0", m_mode == Unlock || m_mode == ChangePin);
    take("new_pin", "pin2", m_mode != Unlock);
    return map;
}
