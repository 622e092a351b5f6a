#pragma once

// Answers the PIN wizard the way a user would, and the message boxes like BoxDriver:
// while the wizard is the active modal window, the next queued answer is typed into
// its current page and Next or Finish pressed. With no answer left it cancels.

#include "desktop/PINWizard.h"
#include "net/BoxDriver.h"

#include <QLineEdit>
#include <QWizardPage>

class WizardDriver : public BoxDriver
{
public:
    explicit WizardDriver(const QStringList &answers = QStringList())
        : m_answers(answers)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { step(); });
        m_timer.start(10);
    }

    void setAnswers(const QStringList &answers) { m_answers = answers; }
    // "<mode>:<page title>" for every page an answer was typed into.
    const QStringList &pages() const { return m_pages; }
    int cancelled() const { return m_cancelled; }

private:
    void step()
    {
        auto *wizard = qobject_cast<PINWizard *>(QApplication::activeModalWidget());
        if (!wizard || !wizard->isVisible() || !wizard->isEnabled() || !wizard->currentPage())
            return;
        if (m_answers.isEmpty()) {
            ++m_cancelled;
            wizard->reject();
            return;
        }
        QWizardPage *page = wizard->currentPage();
        m_pages.append(QString("%1:%2").arg(wizard->mode()).arg(page->title()));
        page->findChild<QLineEdit *>()->setText(m_answers.takeFirst());
        if (wizard->nextId() == -1)
            wizard->button(QWizard::FinishButton)->click();
        else
            wizard->next();
    }

    QTimer m_timer;
    QStringList m_answers;
    QStringList m_pages;
    int m_cancelled = 0;
};
