#include "TlsTestServer.h"

#include <httplib.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

// rogue.pem/rogue.key: self-signed for 127.0.0.1, trusted by nobody.
bool makeRogue(const QString &folder)
{
    if (QFile::exists(folder + "/rogue.pem"))
        return true;
    QProcess p;
    p.setWorkingDirectory(folder);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("openssl", QString("req -x509 -days 2 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout rogue.key "
                               "-out rogue.pem -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1")
                           .split(' '));
    if (p.waitForFinished(30000) && p.exitCode() == 0)
        return true;
    qWarning("openssl failed: %s", p.readAll().constData());
    return false;
}

} // namespace

TlsTestServer::TlsTestServer(const QString &folder, bool trusted)
{
    // Trusted: the certificate of the local service, signed by the build's CA that every request trusts.
    const QString name = trusted ? ZORVEL_TEST_SERVICE_DATA "/server" : folder + "/rogue";
    if (!trusted && !(QDir().mkpath(folder) && makeRogue(folder)))
        return;
    m_server = std::make_unique<httplib::SSLServer>(QFile::encodeName(name + ".pem").constData(),
                                                    QFile::encodeName(name + (trusted ? "-key.pem" : ".key")).constData());
    httplib::SSLServer &s = *m_server;
    using Req = const httplib::Request &;
    using Res = httplib::Response &;
    static const char *kJson = "application/json";

    auto seen = [this](Req req) {
        record(QString::fromStdString(req.path), {{"user-agent", QString::fromStdString(req.get_header_value("User-Agent"))},
                                                  {"content-type", QString::fromStdString(req.get_header_value("Content-Type"))},
                                                  {"body", QString::fromStdString(req.body)}});
    };
    auto ok = [](Res res, QVariantMap map = {}) {
        map.insert("code", 0);
        res.set_content(QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(QJsonDocument::Compact).toStdString(), kJson);
    };
    const auto echo = [=](Req req, Res res) { seen(req); ok(res); };
    s.Get("/echo/", echo).Post("/echo/", echo).Post("/upload/", echo);
    s.Get("/status404/", [=](Req req, Res res) {
        echo(req, res);
        res.status = 404;
    });
    s.Get("/ping/", [=](Req req, Res res) { seen(req); res.set_redirect("/pong/"); });
    s.Get("/pong/", [=](Req req, Res res) { seen(req); res.set_redirect("/ping/"); });
    // Pull pages that always say "more": the cursor moves on (+1) on /pull-more/ and
    // stays put on /pull-stuck/.
    for (int step : {1, 0})
        s.Get(step ? "/pull-more/" : "/pull-stuck/", [=](Req req, Res res) {
            seen(req);
            const qint64 since = std::stoll(req.get_param_value("last_request_timestamp"));
            ok(res, {{"request_timestamp", since + step}, {"more", true}, {"histories", QVariantList()}});
        });
    // Two pages of 40 plain texts, "paged 0" to "paged 79", the older page first.
    s.Get("/pull-two/", [=](Req req, Res res) {
        seen(req);
        const int page = req.get_param_value("last_request_timestamp") == "100" ? 0 : 1;
        QVariantList items;
        for (int i = page * 40; i < page * 40 + 40; ++i) {
            const QByteArray text = "paged " + QByteArray::number(i);
            items << QVariantMap{{"content", text}, {"timestamp", 1000 + i}, {"type", "text_txt"}, {"history_id", 1 + i},
                                 {"file_size", text.size()}, {"file_hash", QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex()}};
        }
        ok(res, {{"request_timestamp", 101 + page}, {"more", page == 0}, {"histories", items}});
    });
    // The upload host named by the file id: "https" this endpoint, anything else plain http.
    s.Get("/get_upload_token/", [=](Req req, Res res) {
        seen(req);
        const QString scheme = QString::fromStdString(req.get_param_value("file_id"));
        ok(res, {{"host", scheme == "https" ? baseUrl() + "upload/" : QString("http://127.0.0.1:%1/upload/").arg(m_port)},
                 {"key", "k"}, {"file_name", "f"}});
    });
    s.Get("/check_version/", [=](Req req, Res res) {
        seen(req);
        ok(res, {{"data", QVariantMap{{"version", "2.2.0"}, {"download_url", baseUrl() + "download/"},
                                      {"update_info", "修复了一些问题"}}}});
    });
    s.Get("/broken/", [=](Req, Res res) { res.set_content("{\"code\": 0, \"histories\": [", kJson); });
    s.Get("/nested/", [=](Req, Res res) { res.set_content(std::string(5000, '[') + std::string(5000, ']'), kJson); });
    s.Get("/huge/", [=](Req, Res res) { res.set_content(std::string(17 << 20, ' ') + "{\"code\":0}", kJson); });

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

QString TlsTestServer::baseUrl() const { return QString("https://127.0.0.1:%1/").arg(m_port); }

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
