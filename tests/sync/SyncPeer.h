#pragma once

// Device B of the two-device tests and of the sync benchmark: a program in a home and
// on a virtual display of its own, signed in to the same account and unlocked with the
// key dictionary that device A created.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace SyncPeer {

// Writes the key dictionary where the peer reads it; the path, or empty text.
inline QString writeKeyFile(const QVariantMap &dictionary)
{
    const QString path = QDir::homePath() + "/key.json";
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
    env.insert("HOME", home);
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "DISPLAY",
                             "ZORVEL_TEST_DISPLAY"})
        env.remove(name);
    env.insert("QT_LOGGING_RULES", "*.debug=false");
    peer.setProcessEnvironment(env);
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    peer.start(ZORVEL_WITH_XVFB, command);
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

} // namespace SyncPeer
