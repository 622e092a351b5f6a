#pragma once

// Helpers of the two-device tests. Device B: the sync_peer program in a home and on a
// virtual display of its own, signed in to the same account and unlocked with the
// key dictionary that device A created.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTest>

#include "store/HistoryQueries.h"

#include <functional>

namespace SyncPeer {

// Writes the key dictionary where the peer reads it; the path, or empty text.
inline QString writeKeyFile(const QVariantMap &dictionary)
{
    const QString path = QDir::homePath() + QStringLiteral("/key.json");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(QJsonDocument(QJsonObject::fromVariantMap(dictionary)).toJson());
    return path;
}

// Starts the peer program (command: the program and its arguments) on a display of its
// own and waits for its "ready" line.
inline bool start(QProcess &peer, const QString &home, const QStringList &command)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "DISPLAY",
                             "ZORVEL_TEST_DISPLAY"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=false"));
    peer.setProcessEnvironment(env);
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    peer.start(QStringLiteral(ZORVEL_WITH_XVFB), command);
    if (!peer.waitForStarted())
        return false;
    QDeadlineTimer deadline(30000);
    while (!peer.canReadLine() && !deadline.hasExpired() && peer.state() == QProcess::Running)
        peer.waitForReadyRead(100);
    return peer.readLine().trimmed() == "ready";
}

// One command to the peer and its answer. Each command carries a number that the answer
// repeats: an answer that came too late for an earlier command, or a line the peer
// printed by itself, is skipped instead of being taken for this one.
inline QByteArray ask(QProcess &peer, const QByteArray &command, int timeoutMs = 20000)
{
    static int sent = 0;
    const QByteArray tag = QByteArray::number(++sent) + ' ';
    peer.write(tag + command + '\n');
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        while (peer.canReadLine()) {
            const QByteArray line = peer.readLine().trimmed();
            if (line.startsWith(tag))
                return line.mid(tag.size());
        }
        peer.waitForReadyRead(100);
    }
    return QByteArray();
}

// The hashes of the newest history entries on this device.
inline QSet<QString> historyHashes()
{
    QSet<QString> all;
    for (const History &h : HistoryQueries::listHistory())
        all.insert(h.file_hash());
    return all;
}

// The hash of the entry that a clipboard change made by copy added on this device.
inline QString capturedHash(const std::function<void()> &copy)
{
    const QSet<QString> before = historyHashes();
    copy();
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        const QSet<QString> added = historyHashes() - before;
        if (!added.isEmpty())
            return *added.begin();
        QTest::qWait(20);
    }
    return QString();
}

} // namespace SyncPeer
