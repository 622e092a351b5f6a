#include "capture/ConfigureManager.h"

#include "app/Constants.h"
#include "app/clipUtils.h"

#include <QMutexLocker>
#include <QSettings>

QStringList ConfigureManager::builtInKeywords()
{
    return {QStringLiteral("码"), QStringLiteral("名"), QStringLiteral("卡"), QStringLiteral("账"),
            QStringLiteral("号"), QStringLiteral("password"), QStringLiteral("account"),
            QStringLiteral("username")};
}

ConfigureManager::ConfigureManager()
{
    // A missing or malformed value converts to an empty list.
    m_userKeywords = clipUtils::settings()->value(QLatin1String(Zorvel::Key::UserKeyWords)).toStringList();
    buildPattern();
}

void ConfigureManager::setUserKeywords(const QStringList &keywords)
{
    m_userKeywords = keywords;
}

void ConfigureManager::saveUserKeywords()
{
    clipUtils::settings()->setValue(QLatin1String(Zorvel::Key::UserKeyWords), m_userKeywords);
    buildPattern();
}

void ConfigureManager::buildPattern()
{
    const QStringList builtIn = builtInKeywords();
    m_pattern = (m_userKeywords + builtIn).join(QLatin1Char('|'));
    m_detector.setPattern(m_pattern);
    if (m_detector.isValid())
        return;

    // One bad user keyword must not switch detection off altogether: confidential
    // text would then be uploaded. Detect with the keywords that compile on their own
    // and the built-in ones. The keywords themselves stay out of the log.
    qWarning("ConfigureManager: the user keywords do not form a valid regular expression (%s at offset %d); "
             "detecting with the valid ones and the built-in keywords",
             qPrintable(m_detector.errorString()), m_detector.patternErrorOffset());
    QStringList usable;
    for (const QString &keyword : qAsConst(m_userKeywords)) {
        if (QRegularExpression(keyword).isValid())
            usable.append(keyword);
    }
    m_detector.setPattern((usable + builtIn).join(QLatin1Char('|')));
    if (!m_detector.isValid())
        m_detector.setPattern(builtIn.join(QLatin1Char('|')));
}

bool ConfigureManager::matchesKeyword(const QString &text) const
{
    return m_detector.match(text).hasMatch();
}

QString ConfigureManager::pendingHash() const
{
    QMutexLocker lock(&m_mutex);
    return m_pendingHash.isEmpty() ? QString() : m_pendingHash;
}

void ConfigureManager::setPendingHash(const QString &hash)
{
    QMutexLocker lock(&m_mutex);
    m_pendingHash = hash;
}

bool ConfigureManager::takePendingHash(const QString &hash)
{
    QMutexLocker lock(&m_mutex);
    if (m_pendingHash.isEmpty() || m_pendingHash != hash)
        return false;
    m_pendingHash = QString();
    return true;
}

bool ConfigureManager::isSecretText(const QString &text)
{
    if (!clipUtils::checkSecret())
        return false;
    return instance()->matchesKeyword(text);
}
