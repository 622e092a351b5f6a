#include "TlsTestServer.h"

#include <httplib.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>

namespace {

bool openssl(const QString &folder, const QStringList &args)
{
    QProcess p;
    p.setWorkingDirectory(folder);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("openssl"), args);
    if (!p.waitForFinished(30000) || p.exitCode() != 0) {
        qWarning("openssl %s failed: %s", qPrintable(args.join(QLatin1Char(' '))), p.readAll().constData());
        return false;
    }
    return true;
}

const QStringList kEcKey = {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                            QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};

// ca.pem/ca.key, server.pem/server.key (signed by the CA, for 127.0.0.1) and
// rogue.pem/rogue.key (self-signed, same name).
bool makeCertificates(const QString &folder)
{
    if (QFile::exists(folder + QStringLiteral("/rogue.pem")))
        return true;
    const QString san = QStringLiteral("subjectAltName=IP:127.0.0.1");
    return openssl(folder, QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + kEcKey
                       + QStringList{QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"),
                                     QStringLiteral("ca.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                                     QStringLiteral("-subj"), QStringLiteral("/CN=zorvel test CA")})
        && openssl(folder, QStringList{QStringLiteral("req")} + kEcKey
                       + QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"), QStringLiteral("-out"),
                                     QStringLiteral("server.csr"), QStringLiteral("-subj"),
                                     QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"), san})
        && openssl(folder, {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                            QStringLiteral("server.csr"), QStringLiteral("-CA"), QStringLiteral("ca.pem"),
                            QStringLiteral("-CAkey"), QStringLiteral("ca.key"), QStringLiteral("-CAcreateserial"),
                            QStringLiteral("-out"), QStringLiteral("server.pem"), QStringLiteral("-days"),
                            QStringLiteral("2"), QStringLiteral("-copy_extensions"), QStringLiteral("copy")})
        && openssl(folder, QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + kEcKey
                       + QStringList{QStringLiteral("-keyout"), QStringLiteral("rogue.key"), QStringLiteral("-out"),
                                     QStringLiteral("rogue.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                                     QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                                     QStringLiteral("-addext"), san});
}

void trustCa(const QString &path)
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    QList<QSslCertificate> cas = config.caCertificates();
    const QList<QSslCertificate> ours = QSslCertificate::fromPath(path);
    for (const QSslCertificate &c : ours)
        if (!cas.contains(c))
            cas.append(c);
    config.setCaCertificates(cas);
    QSslConfiguration::setDefaultConfiguration(config);
}

std::string json(const QVariantMap &map)
{
    return QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(QJsonDocument::Compact).toStdString();
}

} // namespace

TlsTestServer::TlsTestServer(const QString &folder, bool trusted)
{
    QDir().mkpath(folder);
    if (!makeCertificates(folder))
        return;
    if (trusted)
        trustCa(folder + QStringLiteral("/ca.pem"));
    const QString name = trusted ? QStringLiteral("server") : QStringLiteral("rogue");
    m_server = std::make_unique<httplib::SSLServer>(QFile::encodeName(folder + QLatin1Char('/') + name + ".pem").constData(),
                                                    QFile::encodeName(folder + QLatin1Char('/') + name + ".key").constData());
    httplib::SSLServer &s = *m_server;

    auto seen = [this](const httplib::Request &req) {
        record(QString::fromStdString(req.path),
               {{QStringLiteral("method"), QString::fromStdString(req.method)},
                {QStringLiteral("user-agent"), req.has_header("User-Agent") ? QString::fromStdString(req.get_header_value("User-Agent")) : QString()},
                {QStringLiteral("content-type"), req.has_header("Content-Type") ? QString::fromStdString(req.get_header_value("Content-Type")) : QStringLiteral("<none>")},
                {QStringLiteral("body"), QString::fromStdString(req.body)}});
    };
    auto ok = [](httplib::Response &res, const QVariantMap &extra = {}) {
        QVariantMap map = extra;
        map.insert(QStringLiteral("code"), 0);
        res.set_content(json(map), "application/json");
    };

    s.Get("/echo/", [=](const httplib::Request &req, httplib::Response &res) { seen(req); ok(res); });
    s.Post("/echo/", [=](const httplib::Request &req, httplib::Response &res) { seen(req); ok(res); });
    s.Put("/echo/", [=](const httplib::Request &req, httplib::Response &res) { seen(req); ok(res); });
    s.Delete("/echo/", [=](const httplib::Request &req, httplib::Response &res) { seen(req); ok(res); });
    for (int status : {404, 500}) {
        s.Get(QStringLiteral("/status%1/").arg(status).toStdString(), [=](const httplib::Request &req, httplib::Response &res) {
            seen(req);
            ok(res);
            res.status = status;
        });
    }
    // Redirects to itself every time: the second reply must be taken as final.
    s.Get("/loop/", [=](const httplib::Request &req, httplib::Response &res) {
        seen(req);
        res.set_redirect(baseUrl().toStdString() + "loop/");
        ok(res, {{QStringLiteral("hits"), hits(QStringLiteral("/loop/"))}});
    });
    s.Get("/ping/", [=](const httplib::Request &req, httplib::Response &res) { seen(req); res.set_redirect("/pong/"); });
    s.Get("/pong/", [=](const httplib::Request &req, httplib::Response &res) { seen(req); res.set_redirect("/ping/"); });
    s.Post("/moved/", [=](const httplib::Request &req, httplib::Response &res) {
        seen(req);
        res.set_redirect("/landing/");
    });
    // Pull pages that always say "more": the cursor moves on (+1) on /pull-more/ and
    // stays put on /pull-stuck/.
    for (int step : {1, 0}) {
        s.Get(step ? "/pull-more/" : "/pull-stuck/", [=](const httplib::Request &req, httplib::Response &res) {
            seen(req);
            const qint64 since = QString::fromStdString(req.get_param_value("last_request_timestamp")).toLongLong();
            ok(res, {{QStringLiteral("request_timestamp"), since + step},
                     {QStringLiteral("more"), true},
                     {QStringLiteral("histories"), QVariantList()}});
        });
    }
    s.Get("/landing/", [=](const httplib::Request &req, httplib::Response &res) { seen(req); ok(res, {{QStringLiteral("landed"), true}}); });
    s.Get("/check_version/", [=](const httplib::Request &req, httplib::Response &res) {
        seen(req);
        ok(res, {{QStringLiteral("data"),
                  QVariantMap{{QStringLiteral("version"), QStringLiteral("2.2.0")},
                              {QStringLiteral("download_url"), baseUrl() + QStringLiteral("download/")},
                              {QStringLiteral("update_info"), QStringLiteral("修复了一些问题")}}}});
    });
    s.Get("/broken/", [=](const httplib::Request &req, httplib::Response &res) {
        seen(req);
        res.set_content("{\"code\": 0, \"histories\": [", "application/json");
    });
    s.Get("/nested/", [=](const httplib::Request &req, httplib::Response &res) {
        seen(req);
        res.set_content(std::string(5000, '[') + std::string(5000, ']'), "application/json");
    });
    s.Get("/huge/", [=](const httplib::Request &req, httplib::Response &res) {
        seen(req);
        res.set_content(std::string(17 * 1024 * 1024, ' ') + "{\"code\":0}", "application/json");
    });

    m_port = s.bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        return;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    while (!m_server->is_running())
        std::this_thread::yield();
}

TlsTestServer::~TlsTestServer()
{
    if (m_server)
        m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

QString TlsTestServer::baseUrl() const
{
    return QStringLiteral("https://127.0.0.1:%1/").arg(m_port);
}

void TlsTestServer::record(const QString &path, const QVariantMap &seen)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_last.insert(path, seen);
    ++m_hits[path];
}

int TlsTestServer::hits(const QString &path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hits.value(path);
}

QVariantMap TlsTestServer::last(const QString &path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_last.value(path).toMap();
}
