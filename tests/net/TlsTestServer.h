#pragma once

// A small HTTPS endpoint on loopback for what the real service never does: echoing
// request headers, redirects in a circle, error statuses with a body, oversized and
// broken replies, paging, upload hosts, a newer program version.

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <mutex>
#include <thread>

namespace httplib {
class SSLServer;
}

class TlsTestServer
{
public:
    // trusted: the local service's certificate; otherwise a self-signed one (made in folder).
    explicit TlsTestServer(const QString &folder, bool trusted = true);
    ~TlsTestServer();

    bool isRunning() const { return m_port > 0; }
    QString baseUrl() const; // "https://127.0.0.1:<port>/"
    int hits(const QString &path) const;
    // Headers and body of the last request to path, as {"user-agent", "content-type", "body"}.
    QVariantMap last(const QString &path) const;

private:
    void record(const QString &path, const QVariantMap &seen);

    std::unique_ptr<httplib::SSLServer> m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    QVariantMap m_last;
    QMap<QString, int> m_hits;
};
