// The zorvel-service program itself, two processes on one PostgreSQL database that
// share the object folder and the secrets by flag: the first run in empty folders,
// TLS with its own CA on a port it picked, a clean stop on SIGTERM and a restart that
// keeps the CA, refusal of bad flags; concurrent pushes of one entry through both
// nodes, and files served by either node.

#include "ServiceTestSupport.h"
#include "support/TestMain.h"

#include <httplib.h>

#include <atomic>
#include <csignal>
#include <map>
#include <mutex>
#include <set>
#include <thread>

using namespace ServiceTest;

namespace {

// One zorvel-service process; its own data folder (certificate), everything else shared.
class Node {
public:
    Node(const QString &root, const QString &name, const std::string &database)
        : m_data(root + "/" + name + "/data")
    {
        m_process.start(ZORVEL_SERVICE_EXE,
                        {"--listen", "127.0.0.1:0", "--data", m_data, "--database", QString::fromStdString(database),
                         "--objects", root + "/objects", "--object-secret", root + "/object-secret", "--box-key",
                         root + "/box-key"});
    }
    ~Node() { stop(); }

    bool waitListening()
    {
        const QRegularExpression listening("listening on https://127.0.0.1:\\d+ port (\\d+)");
        QByteArray output;
        for (int i = 0; i < 300 && m_port == 0; ++i) {
            m_process.waitForReadyRead(100);
            output += m_process.readAllStandardOutput();
            const auto match = listening.match(QString::fromUtf8(output));
            if (match.hasMatch())
                m_port = match.captured(1).toInt();
            if (m_process.state() == QProcess::NotRunning)
                break;
        }
        return m_port != 0;
    }
    // True when the process ended on SIGTERM with status 0.
    bool stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return false;
        ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
        return m_process.waitForFinished(10000) && m_process.exitStatus() == QProcess::NormalExit
            && m_process.exitCode() == 0;
    }
    int port() const { return m_port; }
    QString data() const { return m_data; }

private:
    QString m_data;
    QProcess m_process;
    int m_port = 0;
};

} // namespace

class TestServiceProcess : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TestDatabase> m_database;
    std::unique_ptr<Node> m_nodes[2];
    QString m_caBundle;

    std::unique_ptr<ApiClient> client(int node, const std::string &userToken = {})
    {
        auto c = std::make_unique<ApiClient>(m_nodes[node]->port(), m_caBundle.toStdString());
        c->userToken = userToken;
        return c;
    }

private slots:
    void init()
    {
        if (!TestDatabase::isPostgres())
            QSKIP("several nodes need the PostgreSQL backend (ZORVEL_TEST_DATABASE)");
        m_dir = std::make_unique<QTemporaryDir>();
        m_database = std::make_unique<TestDatabase>();
        // Both start at once: one migrates the schema and makes the shared secrets, the
        // other waits for the migration and uses the same secrets.
        for (int n = 0; n < 2; ++n)
            m_nodes[n] = std::make_unique<Node>(m_dir->path(), n ? "b" : "a", m_database->url());
        for (auto &node : m_nodes)
            QVERIFY(node->waitListening());
        m_caBundle = m_dir->filePath("ca-bundle.pem");
        QFile bundle(m_caBundle);
        QVERIFY(bundle.open(QIODevice::WriteOnly));
        for (auto &node : m_nodes) {
            QFile ca(node->data() + "/ca.pem");
            QVERIFY(ca.open(QIODevice::ReadOnly));
            bundle.write(ca.readAll());
        }
    }

    void cleanup()
    {
        m_nodes[0].reset();
        m_nodes[1].reset();
        m_database.reset();
        m_dir.reset();
    }

    void firstRunServesTlsAndStopsCleanly()
    {
        const QString data = m_nodes[0]->data();
        for (const char *file : {"ca.pem", "server.pem", "server-key.pem", "ca-key.pem", "config.json"})
            QVERIFY2(QFile::exists(data + "/" + file), file);
        QVERIFY(QFile::exists(m_dir->filePath("box-key")));
        QVERIFY(!(QFile(data + "/server-key.pem").permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup)));
        const int port = m_nodes[0]->port();
        QCOMPARE(ApiClient(port, (data + "/ca.pem").toStdString()).get("init/").code(), 0);
        // The certificate names localhost as well.
        httplib::SSLClient byName("localhost", port);
        byName.set_ca_cert_path((data + "/ca.pem").toStdString().c_str());
        byName.enable_server_certificate_verification(true);
        QVERIFY(byName.Get("/api/public_key/"));
        // A client that does not trust the CA is turned away by its own check.
        QCOMPARE(ApiClient(port, "/nonexistent.pem").get("public_key/").status, 0);
        QVERIFY(m_nodes[0]->stop());
        // Started again, it serves a certificate of the CA its clients already trust.
        Node again(m_dir->path(), "a", m_database->url());
        QVERIFY(again.waitListening());
        QCOMPARE(ApiClient(again.port(), m_caBundle.toStdString()).get("init/").code(), 0);
    }

    void badFlagsAreRefused()
    {
        for (const QStringList &args : {QStringList {"--listen", "127.0.0.1:0"}, QStringList {"--data", "/tmp", "--port", "x"},
                                        QStringList {"--bogus", "1"}, QStringList {"--data", "/tmp", "--tls-cert", "c.pem"}}) {
            QProcess service;
            service.start(ZORVEL_SERVICE_EXE, args);
            QVERIFY(service.waitForFinished(10000));
            QCOMPARE(service.exitCode(), 2);
            QVERIFY(service.readAllStandardError().contains("usage:"));
        }
    }

    void nodesShareEntriesAndSecrets()
    {
        auto first = client(0);
        QCOMPARE(first->registerUser("race@example.com", "pass").code(), 0);
        std::mutex mutex;
        std::map<std::string, std::set<std::int64_t>> ids;
        std::atomic<int> failures {0};
        std::vector<std::thread> pushers;
        for (int t = 0; t < 4; ++t) {
            pushers.emplace_back([&, t] {
                auto api = client(t % 2, first->userToken);
                for (int k = 0; k < 40; ++k) {
                    const std::string text = "race " + std::to_string(t < 2 ? k : 39 - k);
                    const Reply reply = api->post("push/", history(textItem(text, t + 1, 100 + t)));
                    if (reply.code() != 0) {
                        ++failures;
                        continue;
                    }
                    std::lock_guard<std::mutex> lock(mutex);
                    ids[md5Hex(text)].insert(reply.body["history"]["history_id"].get<std::int64_t>());
                }
            });
        }
        for (auto &pusher : pushers)
            pusher.join();
        QCOMPARE(failures.load(), 0);
        QCOMPARE(ids.size(), std::size_t(40));
        for (const auto &[hash, entries] : ids)
            QCOMPARE(entries.size(), std::size_t(1));
        const Reply all = first->get("pull/", "&last_request_timestamp=0");
        QCOMPARE(all.body["histories"].size(), std::size_t(40));
        // Concurrent pushes of one entry made one entry; the latest mark and timestamp
        // won on every entry, whichever node took them.
        for (const json &h : all.body["histories"]) {
            QCOMPARE(h["favourite"].get<std::int64_t>(), std::int64_t(4));
            QCOMPARE(h["timestamp"].get<double>(), 103.0);
        }

        // The secrets are shared: an upload token signed by node a is taken by node b,
        // and a link made by node b is served by node a.
        auto other = client(1, first->userToken);
        QVERIFY(first->get("public_key/").body["public_key"] == other->get("public_key/").body["public_key"]);
        const json entry = all.body["histories"][0];
        QCOMPARE(other->upload(first->get("get_upload_token/", fileQuery(entry)).body, "the bytes").status, 200);
        const Reply link = other->get("download_file/", fileQuery(entry));
        QCOMPARE(link.status, 302);
        QCOMPARE(first->get(link.location.substr(link.location.find("/oss/"))).raw, std::string("the bytes"));
    }
};

ZORVEL_TEST_MAIN(TestServiceProcess)
#include "tst_service_process.moc"
