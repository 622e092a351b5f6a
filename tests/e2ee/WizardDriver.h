#pragma once

// Answers the PIN wizard the way a user would: a timer finds the wizard while it
// is the active modal window, types the next queued answer into the current page
// and presses Next or Finish. With no answer left it cancels the wizard.

#include "desktop/PINWizard.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QStringList>
#include <QTimer>
#include <QWizardPage>

class WizardDriver : public QObject
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
    void clear()
    {
        m_pages.clear();
        m_cancelled = 0;
    }

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
        m_pages.append(QStringLiteral("%1:%2").arg(wizard->mode()).arg(page->title()));
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
