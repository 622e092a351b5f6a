#pragma once

// The second device of the two-device tests and of the sync benchmark, run in a home
// and on a display of its own: signed in to the account, unlocked with the key
// dictionary that device A made, "auto_set_clipboard" on, capturing and pushing, and
// subscribed to the broker. Its commands come one per line on stdin.

#include "net/NetFixture.h"

#include "app/Wiring.h"
#include "push/MqttManager.h"

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>

#include <cstdio>
#include <functional>
#include <unistd.h>
#include <utility>

namespace PeerDevice {

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

} // namespace PeerDevice
