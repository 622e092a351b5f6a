#pragma once

// Answers the modal message boxes a window opens: a timer looks for the active
// modal box, records its texts and presses the chosen button.

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

class BoxDriver : public QObject
{
public:
    explicit BoxDriver(QMessageBox::StandardButton answer = QMessageBox::Ok)
        : m_answer(answer)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { answerOpenBox(); });
        m_timer.start(10);
    }

    void setAnswer(QMessageBox::StandardButton answer) { m_answer = answer; }
    // "text" or "text | informative", one per box seen.
    const QStringList &seen() const { return m_seen; }
    void clear() { m_seen.clear(); }

private:
    void answerOpenBox()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        m_seen.append(box->informativeText().isEmpty() ? box->text()
                                                       : box->text() + QStringLiteral(" | ") + box->informativeText());
        QAbstractButton *button = box->button(m_answer);
        if (!button)
            button = box->button(QMessageBox::Ok);
        button->click();
    }

    QTimer m_timer;
    QMessageBox::StandardButton m_answer;
    QStringList m_seen;
};
