#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// The running instance's door for later starts of the program (a local socket in
// the user's runtime folder): a later start that finds the instance lock taken
// hands its request over here and ends. Requests are single words ("show").
class InstanceChannel : public QObject
{
    Q_OBJECT

public:
    explicit InstanceChannel(QObject *parent = nullptr);

    // Starts listening; call only while holding SingleInstance's lock.
    bool listen(const QString &identifier);

    // From a later start: delivers request to the running instance. Waits up to
    // timeoutMs for an instance that is still starting up.
    static bool send(const QString &identifier, const QString &request, int timeoutMs = 5000);

    static constexpr int kMaxRequestBytes = 64;

Q_SIGNALS:
    void requested(const QString &request);

private:
    void accept();
    static QString socketPath(const QString &identifier);

    QLocalServer *m_server;
};
