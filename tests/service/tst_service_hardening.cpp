// Hostile input against a real service: oversized, compressed, chunked and broken
// bodies, SQL text in hashes and ids, path tricks in object keys, and the limits on
// sign-ups, password work and storage. Each is refused and leaves the stored data
// exactly as it was.

#include "ServiceTestSupport.h"
#include "support/TestMain.h"

#include <httplib.h>

#include <algorithm>
#include <future>

using namespace ServiceTest;

class TestServiceHardening : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestService> m_service;
    std::unique_ptr<ApiClient> m_client;
    std::string m_before;

    std::string snapshot() { return json(m_client->pullAll()).dump(); }

private slots:
    // One user with two entries for every case; each case must leave them as they are.
    void initTestCase()
    {
        m_service = std::make_unique<TestService>();
        QVERIFY(m_service->ok());
        m_client = std::make_unique<ApiClient>(*m_service, "pat@example.com");
        m_client->pushText("first", 100);
        m_client->pushText("second", 0);
        m_before = snapshot();
        QCOMPARE(json::parse(m_before).size(), size_t(2));
    }

    void cleanup() { QCOMPARE(snapshot(), m_before); }

    void cleanupTestCase()
    {
        m_client.reset();
        m_service.reset();
    }

    void abusiveRequests_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("extra");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("code");
        const auto row = [](const QByteArray &name, const char *method, const char *path, const QByteArray &extra,
                            const QByteArray &body, int status = 200, int code = -1) {
            QTest::newRow(name.constData()) << QByteArray(method) << QByteArray(path) << extra << body << status << code;
        };
        const QByteArray first = QByteArray::fromStdString(md5Hex("first"));
        row("9 MiB", "POST", "push/", {}, "{\"history\": {\"content\": \"" + QByteArray(9 << 20, 'a') + "\"}}", 413, 413);
        for (const char *body : {"", "{", "[]", "null", "{\"history\": [1, 2]}", "{\"history\": \"text\"}",
                                 "{\"history\": {\"file_hash\": 7}}", "\xff\xfe{}"})
            row(QByteArray("push ") + body, "POST", "push/", {}, body);
        row("time as text", "POST", "push/", {},
            "{\"history\": {\"file_hash\": \"" + QByteArray::fromStdString(md5Hex("third"))
                + "\", \"content\": \"third\", \"timestamp\": \"yesterday\"}}");
        row("deep nesting", "POST", "push/", {}, "{\"history\": " + QByteArray(100000, '[') + QByteArray(100000, ']') + "}");
        row("favourites array", "POST", "get_favourite/", {}, "{\"favourites\": [1]}");
        row("cut key", "PUT", "key/", {}, "{\"key_dict\": ");
        row("login not json", "POST", "login_v2/", {}, "not json");
        // Bytes after a NUL would pass unseen by the parser.
        row("after NUL", "POST", "login_v2/", {}, QByteArray("{}\0{\"username\": 1}", 19));
        // Marks at or beyond ±2^62, and 2^64-1 that must not wrap to -1.
        for (const QByteArray mark : {"4611686018427387904", "-4611686018427387904", "18446744073709551615",
                                      "-9223372036854775808"}) {
            const QByteArray item = "{\"history\": {\"file_hash\": \"" + first
                + "\", \"content\": \"first\", \"favourite\": " + mark + "}}";
            row("push mark " + mark, "POST", "push/", {}, item);
            row("set mark " + mark, "POST", "set_favourite/", {}, item);
            row("merge mark " + mark, "POST", "get_favourite/", {}, "{\"favourites\": {\"1\": {\"favourite\": " + mark + "}}}");
        }
        const QByteArray injected = "{\"history\": {\"file_hash\": \"0123456789abcdef0123456789abcde'\", \"content\": \"x\"}}";
        row("sql in hash", "POST", "push/", {}, "{\"history\": {\"file_hash\": \"' OR '1'='1\", \"content\": \"x\"}}");
        row("quote in hash", "POST", "push/", {}, injected);
        row("quote in hash, put", "PUT", "push/", {}, injected);
        row("quote in hash, mark", "POST", "set_favourite/", {}, injected);
        row("sql in delete id", "DELETE", "push/", "&history_id=1%20OR%201=1", {});
        row("statement in delete id", "DELETE", "push/", "&history_id=1;DELETE%20FROM%20entries", {});
        row("sql in fetched hash", "GET", "push/", "&history_id=0&file_hash=x'%20OR%201=1--", {});
        row("sql in file id", "GET", "get_upload_token/", "&file_id=1;DROP%20TABLE%20entries&file_hash=" + first, {}, 400, -999);
        row("sql in merged id", "POST", "get_favourite/", {}, R"({"favourites": {"1 OR 1=1": {"favourite": 5}}})");
        row("sql in pull time", "GET", "pull/", "&last_request_timestamp=0%20OR%201=1", {}, 200, 0);
        row("quote in address", "GET", "register/", "&username=x'--@example.com&pwd_hash=" + first, {});
    }

    void abusiveRequests()
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, extra);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(int, code);
        const Reply reply = m_client->call(method.toStdString(), path.toStdString(), body.toStdString(), extra.toStdString());
        QCOMPARE(reply.status, status);
        if (code != -999)
            QCOMPARE(reply.code(), code);
        if (code == -1)
            QVERIFY(!reply.body["msg"].get<std::string>().empty());
    }

    // Bodies the server would decode or assemble past its cap, too many header lines,
    // replies of several ranges: refused before a body is read.
    void refusedBeforeTheBody()
    {
        httplib::SSLClient http("127.0.0.1", m_service->port());
        http.set_ca_cert_path((m_service->dataDir() + "/ca.pem").c_str());
        http.enable_server_certificate_verification(true);
        const std::string push = "/api/push/?user_token=" + m_client->userToken;
        auto gzip = http.Post(push.c_str(), {{"Content-Encoding", "gzip"}}, std::string(100, '\x1f'), "text/plain");
        QVERIFY(gzip);
        QCOMPARE(gzip->status, 415);
        const std::string chunk(1024 * 1024, 'c');
        auto chunked = http.Post(
            push.c_str(),
            [&chunk](size_t offset, httplib::DataSink &sink) {
                offset >= 9 * chunk.size() ? sink.done() : void(sink.write(chunk.data(), chunk.size()));
                return true;
            },
            "text/plain");
        QVERIFY(!chunked || chunked->status == 411);
        httplib::Headers many;
        for (int i = 0; i < 150; ++i)
            many.emplace("X-Filler-" + std::to_string(i), "x");
        auto headers = http.Get("/", many);
        QVERIFY(headers);
        QCOMPARE(headers->status, 431);
        auto ranges = http.Get("/", {{"Range", "bytes=0-,0-,0-,0-"}});
        QVERIFY(ranges);
        QCOMPARE(ranges->status, 416);
    }

    // The sixth sign-up from one address within a minute, password work beyond its
    // queue, and a push past the user's quota are refused; nothing is stored half.
    void limits()
    {
        TestService limited({}, json {{"register_per_address_per_minute", 5}, {"entries_per_user", 2},
                                       {"password_workers", 1}, {"password_queue", 0}});
        QVERIFY(limited.ok());
        std::vector<std::unique_ptr<ApiClient>> clients;
        for (int i = 0; i < 6; ++i)
            clients.push_back(std::make_unique<ApiClient>(limited));
        // Concurrent sign-ups: one hashes, the others find no place in the queue.
        std::vector<std::future<Reply>> burst;
        for (int i = 0; i < 5; ++i)
            burst.push_back(std::async(std::launch::async, [&clients, i] {
                return clients[i]->registerUser("burst" + std::to_string(i) + "@example.com", "pw");
            }));
        int busy = 0;
        for (auto &f : burst) {
            const Reply r = f.get();
            QVERIFY2(r.code() == 0 || r.status == 503, r.raw.c_str());
            busy += r.status == 503;
        }
        QVERIFY(busy > 0);
        const Reply sixth = clients[5]->registerUser("sixth@example.com", "pw");
        QCOMPARE(sixth.status, 429);
        QCOMPARE(sixth.code(), 429);

        ApiClient &owner = **std::find_if(clients.begin(), clients.end(), [](const auto &c) { return !c->userToken.empty(); });
        QVERIFY(!owner.pushText("one").is_null() && !owner.pushText("two").is_null());
        QCOMPARE(owner.post("push/", history(textItem("three"))).status, 507);
        QCOMPARE(owner.pullAll().size(), size_t(2));
        // An entry it already has is still updated.
        QVERIFY(!owner.pushText("one", 0, 2000).is_null());
    }

    void pathTricksInObjectKeys()
    {
        for (const std::string path :
             {"/oss/object/../service.db", "/oss/object/..%2F..%2Fservice.db", "/oss/object/1/..%2F..%2Fservice.db",
              "/oss/object/%2Fetc%2Fpasswd?expires=99999999999&signature=00", "/oss/object/1/2/../../../service.db"}) {
            const Reply reply = m_client->get(path);
            QVERIFY2(reply.status >= 400 && reply.status < 500, path.c_str());
            QVERIFY(reply.raw.find("SQLite format") == std::string::npos);
        }
        // A valid token for our entry, but the form names a key outside the store.
        const json entry = m_client->get("push/", "&history_id=0&file_hash=" + md5Hex("first")).body["history"];
        const json token = m_client->get("get_upload_token/", fileQuery(entry)).body;
        for (const std::string key : {"../../escaped", "1/../../escaped", "/tmp/escaped"})
            QCOMPARE(m_client->upload(token, "bytes", {{"key", key}}).status, 403);
        QVERIFY(!QFileInfo::exists(QString::fromStdString(m_service->dataDir() + "/escaped")));
        QVERIFY(!QFileInfo::exists("/tmp/escaped"));
        QVERIFY(QDir(QString::fromStdString(m_service->dataDir() + "/objects")).isEmpty());
    }

    void otherUsersDataIsOutOfReach()
    {
        const json entry = m_client->get("push/", "&history_id=0&file_hash=" + md5Hex("first")).body["history"];
        const std::string id = idOf(entry);
        ApiClient intruder(*m_service, "quinn@example.com");
        QCOMPARE(intruder.get("push/", "&history_id=" + id).code(), -10);
        QCOMPARE(intruder.del("push/", "&history_id=" + id).body["deleted"].get<int>(), 0);
        QCOMPARE(intruder.post("set_favourite/", history({{"file_hash", md5Hex("first")}, {"favourite", 9e15}})).code(), -10);
        const Reply merged = intruder.post("get_favourite/", json {{"favourites", {{id, {{"favourite", 9000000}}}}}}.dump());
        QVERIFY(merged.body["delfavourites"].size() == 1);
        QVERIFY(merged.body["histories"].empty());
        QCOMPARE(intruder.get("get_upload_token/", fileQuery(entry)).status, 404);
        QVERIFY(intruder.pullAll().empty());
    }
};

ZORVEL_TEST_MAIN(TestServiceHardening)
#include "tst_service_hardening.moc"
