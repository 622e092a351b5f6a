#pragma once

#include "app/OnceOnly.h"

#include <QMutex>
#include <QObject>
#include <QRegularExpression>
#include <QStringList>

// Keeps the confidential-text keywords with their detection pattern, and the hash
// of an entry the program is about to put on the clipboard itself.
class ConfigureManager : public QObject
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(ConfigureManager)

public:
    static QStringList builtInKeywords();
    // True when checking is switched on and the text contains a confidential keyword.
    static bool isSecretText(const QString &text);

    QStringList userKeywords() const { return m_userKeywords; }
    // In memory only; saveUserKeywords() stores the list and rebuilds the pattern.
    void setUserKeywords(const QStringList &keywords);
    void saveUserKeywords();
    // User keywords then the built-in ones, joined with "|"; keywords are
    // regular-expression syntax, used as written.
    QString pattern() const { return m_pattern; }
    // True when the keywords match anywhere in text (case-sensitive). Main thread only.
    bool matchesKeyword(const QString &text) const;

    // Null when none is pending. Safe from any thread.
    QString pendingHash() const;
    void setPendingHash(const QString &hash);
    // Clears the pending hash and returns true when it equals hash: the clipboard
    // change carrying hash was the program's own.
    bool takePendingHash(const QString &hash);

private:
    ConfigureManager();
    void buildPattern();

    QString m_pendingHash;
    QString m_pattern;
    QStringList m_userKeywords;
    QRegularExpression m_detector;
    mutable QMutex m_mutex;
};
