#pragma once

// Device B of the two-device tests and of the sync benchmark: a program in a home and
// on a virtual display of its own, signed in to the account, unlocked with the key
// dictionary that device A made, "auto_set_clipboard" on, capturing and pushing, and
// subscribed to the broker. Its commands come one per line on stdin. The first half
// runs in B, the second in A.

#include "net/NetFixture.h"

#include "app/Wiring.h"
#include "push/MqttManager.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSocketNotifier>

#include <cstdio>
#include <functional>
#include <unistd.h>
#include <utility>

namespace SyncPeer {

inline void print(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// 0, or the exit code that names the step that failed.
inline int bringUp(const QString &email, const QString &password, const QString &keyPath, const QString &pin)
{
    if (!DBFetcher::instance()->isOpen())
        return 2;
    if (NetFixture::signIn(email, password).code() != 0)
        return 3;
    QFile keyFile(keyPath);
    if (!keyFile.open(QIODevice::ReadOnly)
        || !ZeroManager::instance()->importKey(pin, QJsonDocument::fromJson(keyFile.readAll()).object().toVariantMap()))
        return 4;
    clipUtils::setAutoSetClipboard(true);
    Wiring::startCore(*qApp);
    return 0;
}

// Connects to the broker, prints "ready" once subscribed, then hands each line of stdin
// to command until stdin closes.
inline int serve(const std::function<void(const QByteArray &)> &command)
{
    bool ready = false; // once: a reconnect under load subscribes again
    QObject::connect(MqttManager::instance(), &MqttManager::subscribed, qApp, [&ready] {
        if (!std::exchange(ready, true))
            print("ready");
    }, Qt::QueuedConnection);
    MqttManager::instance()->connectBroker();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, qApp, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, int(n));
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end).trimmed();
            pending.remove(0, end + 1);
            command(line);
        }
    });
    return QCoreApplication::exec();
}

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

// One command to the peer and its answer line (the peer prints nothing else once ready).
inline QByteArray ask(QProcess &peer, const QByteArray &command)
{
    peer.write(command + '\n');
    QDeadlineTimer deadline(20000);
    while (!peer.canReadLine() && peer.waitForReadyRead(int(deadline.remainingTime()))) {
    }
    return peer.readLine().trimmed();
}

} // namespace SyncPeer
