#include "platform/InstanceChannel.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

namespace {

constexpr int kReadTimeoutMs = 2000;
const QStringList kKnownRequests = {QStringLiteral("show")};

} // namespace

InstanceChannel::InstanceChannel(QObject *parent)
    : QObject(parent)
    , m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &InstanceChannel::accept);
}

QString InstanceChannel::socketPath(const QString &identifier)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QLatin1Char('/') + identifier + QStringLiteral(".socket");
}

bool InstanceChannel::listen(const QString &identifier)
{
    const QString path = socketPath(identifier);
    // Under the instance lock any socket left behind belongs to a dead instance.
    QLocalServer::removeServer(path);
    if (!m_server->listen(path)) {
        qWarning("instance channel: cannot listen on %s: %s", qPrintable(path), qPrintable(m_server->errorString()));
        return false;
    }
    return true;
}

void InstanceChannel::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A client that never finishes its line is dropped.
        QTimer::singleShot(kReadTimeoutMs, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMaxRequestBytes) {
                    qWarning("instance channel: request too long; ignored");
                    socket->abort();
                }
                return;
            }
            const QByteArray line = socket->readLine(kMaxRequestBytes + 1).trimmed();
            const QString request = QString::fromLatin1(line);
            if (!kKnownRequests.contains(request)) {
                qWarning("instance channel: unknown request \"%s\"; ignored",
                         qPrintable(QString::fromLatin1(line.toPercentEncoding(" "))));
                socket->write("unknown\n");
                socket->disconnectFromServer();
                return;
            }
            socket->write("ok\n");
            socket->disconnectFromServer();
            Q_EMIT requested(request);
        });
    }
}

bool InstanceChannel::send(const QString &identifier, const QString &request, int timeoutMs)
{
    const QString path = socketPath(identifier);
    QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    do {
        socket.connectToServer(path);
        if (socket.waitForConnected(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
        // The instance is still starting and not listening yet.
        socket.abort();
        QThread::msleep(20);
    } while (!deadline.hasExpired());
    if (socket.state() != QLocalSocket::ConnectedState)
        return false;
    socket.write(request.toLatin1() + '\n');
    if (!socket.waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime()))))
        return false;
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            return false;
    }
    return socket.readLine().trimmed() == "ok";
}
