// Two zorvel-service processes on one PostgreSQL database, sharing the object folder
// and the secrets by flag: a long random mix of pushes, deletions, favourite marks and
// pulls from two devices through alternating nodes must reach every pull exactly once
// and in order; and a node killed while pushes are in flight loses nothing it
// acknowledged.

#include "ServiceTestSupport.h"
#include "support/TestMain.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <atomic>
#include <csignal>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

using namespace ServiceTest;

namespace {

// One zorvel-service process; its own data folder (certificate), everything else shared.
class Node {
public:
    Node(const QString &root, const QString &name, const std::string &database)
        : m_data(root + "/" + name)
    {
        m_process.start(ZORVEL_SERVICE_EXE,
                        {"--listen", "127.0.0.1:0", "--data", m_data, "--database", QString::fromStdString(database),
                         "--objects", root + "/objects", "--object-secret", root + "/object-secret", "--box-key",
                         root + "/box-key"});
    }
    ~Node() { kill(); }

    bool waitListening()
    {
        const QRegularExpression listening("listening on \\S+ port (\\d+)");
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
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        ::kill(static_cast<pid_t>(m_process.processId()), SIGKILL);
        m_process.waitForFinished(10000);
    }
    int port() const { return m_port; }
    QString caPath() const { return m_data + "/ca.pem"; }

private:
    QString m_data;
    QProcess m_process;
    int m_port = 0;
};

// A device of the user: one connection to each node, used in turn, and the history
// as it learnt it from its pulls.
struct Device {
    std::unique_ptr<ApiClient> via[2];
    int turn = 0;
    std::map<std::int64_t, json> local;
    std::int64_t requestTimestamp = 0;
    int lastPull = 0; // the operation number of its previous pull
    ApiClient &next() { return *via[turn++ % 2]; }
};

// What the service holds after every acknowledged operation, and when each entry (or
// its deletion) last changed.
struct Model {
    struct Item {
        std::string fileHash;
        std::int64_t favourite = 0;
        double timestamp = 0;
        int changed = 0;
    };
    std::map<std::int64_t, Item> items;
    std::map<std::int64_t, int> deleted;

    std::int64_t idOf(const std::string &fileHash) const
    {
        const auto it = std::find_if(items.begin(), items.end(), [&](const auto &i) { return i.second.fileHash == fileHash; });
        return it == items.end() ? 0 : it->first;
    }
};

} // namespace

class TestServiceCluster : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TestDatabase> m_database;
    std::unique_ptr<Node> m_nodes[2];
    QString m_caBundle;

    std::unique_ptr<ApiClient> client(int node, const std::string &userToken = {}, const std::string &deviceToken = {})
    {
        auto c = std::make_unique<ApiClient>(m_nodes[node]->port(), m_caBundle.toStdString());
        c->userToken = userToken;
        if (!deviceToken.empty())
            c->deviceToken = deviceToken;
        return c;
    }

private slots:
    void initTestCase()
    {
        // TLS writes to a node that was killed must fail, not end the test.
        std::signal(SIGPIPE, SIG_IGN);
    }

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
            QFile ca(node->caPath());
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

    void randomOperationsThroughAlternatingNodes()
    {
        Device devices[2];
        for (int d = 0; d < 2; ++d) {
            const std::string token = "cluster-device-" + std::to_string(d);
            for (int n = 0; n < 2; ++n)
                devices[d].via[n] = client(n, {}, token);
        }
        QCOMPARE(devices[0].via[0]->registerUser("mix@example.com", "pass").code(), 0);
        // The password is sealed to the key of the node that signs in.
        QCOMPARE(devices[1].via[1]->login("mix@example.com", "pass").code(), 0);
        const std::string tokens[2] = {devices[0].via[0]->userToken, devices[1].via[1]->userToken};
        for (int d = 0; d < 2; ++d) {
            for (auto &api : devices[d].via)
                api->userToken = tokens[d];
        }

        Model model;
        std::mt19937 random(20261206);
        // Every outcome (a repeated push, a mark or deletion of what the other device
        // removed) first comes up within 300 operations of this seed.
        const int operations = 800;
        for (int op = 1; op <= operations; ++op) {
            Device &device = devices[random() % 2];
            ApiClient &api = device.next();
            const unsigned kind = random() % 100;
            if (kind < 35) {
                const std::string text = "entry " + std::to_string(random() % 150);
                const Reply reply = api.post("push/", history(textItem(text, 0, op)));
                QCOMPARE(reply.code(), 0);
                const std::int64_t id = reply.body["history"]["history_id"];
                const std::int64_t known = model.idOf(md5Hex(text));
                QVERIFY2(known == 0 || known == id, "an entry was duplicated");
                Model::Item &stored = model.items[id];
                stored.fileHash = md5Hex(text);
                stored.timestamp = op; // newer than any before: always a change
                stored.changed = op;
            } else if (kind < 65 || device.local.empty()) {
                const Reply reply = api.get("pull/", "&last_request_timestamp=" + std::to_string(device.requestTimestamp));
                QCOMPARE(reply.code(), 0);
                int previous = 0;
                std::set<std::int64_t> seen;
                for (const json &h : reply.body["histories"]) {
                    const std::int64_t id = h["history_id"];
                    QVERIFY2(model.items.count(id), "a pull returned an entry the service does not hold");
                    const int changed = model.items[id].changed;
                    QVERIFY2(changed > device.lastPull, "a pull repeated an entry it had already delivered");
                    QVERIFY2(changed >= previous, "a pull is out of revision order");
                    QVERIFY(seen.insert(id).second);
                    previous = changed;
                    device.local[id] = h;
                }
                for (const json &a : reply.body["action"]) {
                    const std::int64_t id = a["history_id"];
                    QVERIFY(model.deleted.count(id) && model.deleted[id] > device.lastPull);
                    device.local.erase(id);
                }
                // Nothing missed: what the device knows is what the service holds.
                QCOMPARE(device.local.size(), model.items.size());
                for (const auto &[id, stored] : model.items) {
                    QVERIFY2(device.local.count(id), "a pull missed a change");
                    QCOMPARE(device.local[id]["favourite"].get<std::int64_t>(), stored.favourite);
                    QCOMPARE(device.local[id]["timestamp"].get<double>(), stored.timestamp);
                }
                device.requestTimestamp = reply.body["request_timestamp"];
                device.lastPull = op;
            } else if (kind < 85) {
                auto chosen = std::next(device.local.begin(), static_cast<long>(random() % device.local.size()));
                const std::int64_t mark = random() % 2 ? op : -op;
                json marked = chosen->second;
                marked["favourite"] = mark;
                const Reply reply = api.post("set_favourite/", json {{"history", marked}}.dump());
                auto stored = model.items.find(chosen->first);
                if (stored == model.items.end()) {
                    QCOMPARE(reply.code(), -4);
                } else {
                    QCOMPARE(reply.code(), 0);
                    stored->second.favourite = mark;
                    stored->second.changed = op;
                }
            } else {
                auto chosen = std::next(device.local.begin(), static_cast<long>(random() % device.local.size()));
                const Reply reply = api.del("push/", "&history_id=" + std::to_string(chosen->first));
                QCOMPARE(reply.code(), 0);
                const bool present = model.items.erase(chosen->first) > 0;
                QCOMPARE(reply.body["deleted"].get<int>(), present ? 1 : 0);
                if (present)
                    model.deleted[chosen->first] = op;
            }
        }
        for (Device &device : devices) {
            const Reply reply =
                device.next().get("pull/", "&last_request_timestamp=" + std::to_string(device.requestTimestamp));
            for (const json &h : reply.body["histories"])
                device.local[h["history_id"]] = h;
            for (const json &a : reply.body["action"])
                device.local.erase(a["history_id"].get<std::int64_t>());
        }
        QVERIFY(devices[0].local == devices[1].local);
        QCOMPARE(devices[0].local.size(), model.items.size());
    }

    void concurrentPushesOfOneEntryMakeOneEntry()
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
        // The latest mark and timestamp won on every entry, whichever node took them.
        for (const json &h : all.body["histories"]) {
            QCOMPARE(h["favourite"].get<std::int64_t>(), std::int64_t(4));
            QCOMPARE(h["timestamp"].get<double>(), 103.0);
        }
    }

    void concurrentKeyActivationsKeepOneKey()
    {
        auto first = client(0);
        QCOMPARE(first->registerUser("keys@example.com", "pass").code(), 0);
        const TestKey keys[2] = {makeKey(std::string(64, 'a'), "1111"), makeKey(std::string(64, 'b'), "2222")};
        std::mutex mutex;
        std::set<std::string> stored;
        std::atomic<int> refused {0};
        std::vector<std::thread> devices;
        for (int t = 0; t < 6; ++t) {
            devices.emplace_back([&, t] {
                auto api = client(t % 2, first->userToken);
                const Reply reply = api->put("key/", json {{"key_dict", keys[t % 2].dict}}.dump());
                std::lock_guard<std::mutex> lock(mutex);
                if (reply.code() == 0)
                    stored.insert(keys[t % 2].dict["key_hash"]);
                else if (reply.code() == 409)
                    ++refused;
            });
        }
        for (auto &device : devices)
            device.join();
        // One key won; every device that tried the other one was told so.
        QCOMPARE(stored.size(), std::size_t(1));
        QCOMPARE(refused.load(), 3);
        QVERIFY(first->get("key/").body["cipher"]["key_hash"] == *stored.begin());
    }

    void sharedSecretsServeFilesOnEitherNode()
    {
        auto a = client(0);
        QCOMPARE(a->registerUser("files@example.com", "pass").code(), 0);
        auto b = client(1, a->userToken);
        QVERIFY(a->get("public_key/").body["public_key"] == b->get("public_key/").body["public_key"]);
        const json pushed = a->pushText("file on a shared folder");
        const Reply token = a->get("get_upload_token/", fileQuery(pushed));
        QCOMPARE(token.status, 200);
        // Signed by node a, uploaded through node b.
        QCOMPARE(b->upload(token.body, "the bytes").status, 200);
        // Link made by node b, fetched from node a.
        const Reply link = b->get("download_file/", fileQuery(pushed));
        QCOMPARE(link.status, 302);
        QCOMPARE(a->get(link.location.substr(link.location.find("/oss/"))).raw, std::string("the bytes"));
    }

    void nodeKilledMidPushLosesNothingAcknowledged()
    {
        auto first = client(0);
        QCOMPARE(first->registerUser("kill@example.com", "pass").code(), 0);
        std::atomic<int> acknowledged {0};
        std::vector<std::vector<std::string>> acked(4);
        std::vector<std::thread> pushers;
        for (int t = 0; t < 4; ++t) {
            pushers.emplace_back([&, t] {
                auto api = client(0, first->userToken);
                for (int k = 0;; ++k) {
                    const std::string text = "kill " + std::to_string(t) + " " + std::to_string(k);
                    const Reply reply = api->post("push/", history(textItem(text, 0, k)));
                    if (reply.code() != 0)
                        return;
                    acked[static_cast<std::size_t>(t)].push_back(md5Hex(text));
                    ++acknowledged;
                }
            });
        }
        QTRY_VERIFY_WITH_TIMEOUT(acknowledged >= 200, 30000);
        m_nodes[0]->kill();
        for (auto &pusher : pushers)
            pusher.join();

        auto survivor = client(1, first->userToken);
        std::set<std::string> held;
        std::int64_t since = 0;
        for (;;) {
            const Reply reply = survivor->get("pull/", "&last_request_timestamp=" + std::to_string(since));
            QCOMPARE(reply.code(), 0);
            for (const json &h : reply.body["histories"])
                held.insert(h["file_hash"].get<std::string>());
            if (reply.body["histories"].empty())
                break;
            since = reply.body["request_timestamp"];
        }
        for (const auto &hashes : acked) {
            for (const std::string &hash : hashes)
                QVERIFY2(held.count(hash), "an acknowledged push is gone");
        }
        QVERIFY(survivor->pushText("after the fall")["history_id"].is_number());
    }
};

ZORVEL_TEST_MAIN(TestServiceCluster)
#include "tst_service_cluster.moc"
