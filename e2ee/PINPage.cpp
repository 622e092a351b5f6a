#include "e2ee/PINPage.h"

#include "e2ee/KeyNotice.h"
#include "e2ee/PINWizard.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace {

struct PageTexts {
    const char *title;
    const char *subTitle;
    const char *label;
};

const PageTexts kTexts[] = {
    {QT_TRANSLATE_NOOP("PINPage", "当前加密PIN"), QT_TRANSLATE_NOOP("PINPage", "请输入当前加密PIN"),
     QT_TRANSLATE_NOOP("PINPage", "当前加密PIN")},
    {QT_TRANSLATE_NOOP("PINPage", "新的PIN"), QT_TRANSLATE_NOOP("PINPage", "请输入新的加密PIN"),
     QT_TRANSLATE_NOOP("PINPage", "加密PIN")},
    {QT_TRANSLATE_NOOP("PINPage", "再次输入新的加密PIN"), QT_TRANSLATE_NOOP("PINPage", "再次输入新的加密PIN"),
     QT_TRANSLATE_NOOP("PINPage", "加密PIN")},
};

} // namespace

QString PINPage::tooShortText()
{
    return tr("新的PIN至少需要%1个字符，PIN越长越安全").arg(kMinNewPinLength);
}

PINPage::PINPage(int index, QWidget *parent)
    : QWizardPage(parent)
    , m_index(qBound(0, index, 2))
{
    const PageTexts &texts = kTexts[m_index];
    setTitle(tr(texts.title));
    setSubTitle(tr(texts.subTitle));
    m_label = new QLabel(tr(texts.label), this);
    m_edit = new QLineEdit(this);
    m_edit->setEchoMode(QLineEdit::Password);
    auto *layout = new QFormLayout(this);
    layout->addRow(m_label, m_edit);
    registerField(QStringLiteral("pin%1").arg(m_index), m_edit);
}

bool PINPage::validatePage()
{
    const QString pin = m_edit->text();
    if (pin.isEmpty())
        return false;
    auto *owner = qobject_cast<PINWizard *>(wizard());
    // Counted in characters, not UTF-16 units. Existing shorter PINs still unlock (page 0).
    if (m_index == 1 && pin.toUcs4().size() < kMinNewPinLength) {
        showKeyNotice(this, tooShortText());
        return false;
    }
    if (m_index == 1 && owner && owner->asksCurrentPin() && pin == field(QStringLiteral("pin0")).toString()) {
        showKeyNotice(this, tr("不能和上一个PIN相同"));
        return false;
    }
    if (m_index == 2 && pin != field(QStringLiteral("pin1")).toString()) {
        showKeyNotice(this, tr("和上一次的PIN不相同"));
        return false;
    }
    return true;
}
