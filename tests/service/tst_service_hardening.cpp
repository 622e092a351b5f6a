// Hostile input against a real service: oversized, compressed, chunked and broken
// bodies, SQL text in hashes and ids, path tricks in object keys, and the limits on
// sign-ups, password work and storage. Each is refused and leaves the stored data
// exactly as it was.

#include "ServiceTestSupport.h"
#include "support/TestMain.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <httplib.h>

#include <algorithm>
#include <future>

using namespace ServiceTest;

namespace {

std::string snapshot(ApiClient &client)
{
    return client.get("pull/", "&last_request_timestamp=0").body["histories"].dump();
}

} // namespace

class TestServiceHardening : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestService> m_service;
    std::unique_ptr<ApiClient> m_client;
    std::string m_before;

private slots:
    void init()
    {
        m_service = std::make_unique<TestService>();
        QVERIFY(m_service->ok());
        m_client = std::make_unique<ApiClient>(*m_service);
        QCOMPARE(m_client->registerUser("pat@example.com", "pw").code(), 0);
        m_client->pushText("first", 100);
        m_client->pushText("second", 0);
        m_before = snapshot(*m_client);
        QCOMPARE(json::parse(m_before).size(), size_t(2));
    }

    void cleanup()
    {
        if (m_client)
            QCOMPARE(snapshot(*m_client), m_before);
        m_client.reset();
        m_service.reset();
    }

    void oversizedBodies()
    {
        const std::string huge = json {{"history", {{"content", std::string(9 * 1024 * 1024, 'a')}}}}.dump();
        const Reply reply = m_client->post("push/", huge);
        QCOMPARE(reply.status, 413);
        QCOMPARE(reply.code(), 413);
        // The connection may have been closed; the service still answers.
        QCOMPARE(m_client->get("check_version/").code(), 0);
    }

    void brokenJson()
    {
        for (const std::string body : {"", "{", "[]", "null", "{\"history\": [1, 2]}", "{\"history\": \"text\"}",
                                       "{\"history\": {\"file_hash\": 7}}", "\xff\xfe{}"}) {
            const Reply reply = m_client->post("push/", body);
            QCOMPARE(reply.status, 200);
            QCOMPARE(reply.code(), -1);
            QVERIFY(!reply.body["msg"].get<std::string>().empty());
        }
        json wrongType = {{"history",
                           {{"file_hash", md5Hex("third")}, {"content", "third"}, {"timestamp", "yesterday"}}}};
        QCOMPARE(m_client->post("push/", wrongType.dump()).code(), -1);
        const std::string deep = "{\"history\": " + std::string(100000, '[') + std::string(100000, ']') + "}";
        QCOMPARE(m_client->post("push/", deep).code(), -1);
        QCOMPARE(m_client->post("get_favourite/", "{\"favourites\": [1]}").code(), -1);
        QCOMPARE(m_client->put("key/", "{\"key_dict\": ").code(), -1);
        QCOMPARE(m_client->post("login_v2/", "not json").code(), -1);
        // Bytes after a NUL would pass unseen by the parser.
        QCOMPARE(m_client->post("login_v2/", std::string("{}\0{\"username\": 1}", 19)).code(), -1);
        // Marks at or beyond ±2^62, and 2^64-1 that must not wrap to -1.
        for (const char *mark : {"4611686018427387904", "-4611686018427387904", "18446744073709551615",
                                 "-9223372036854775808"}) {
            const std::string item = "{\"history\": {\"file_hash\": \"" + md5Hex("first")
                + "\", \"content\": \"first\", \"favourite\": " + mark + "}}";
            QCOMPARE(m_client->post("push/", item).code(), -1);
            QCOMPARE(m_client->post("set_favourite/", item).code(), -1);
            QCOMPARE(m_client->post("get_favourite/", std::string("{\"favourites\": {\"1\": {\"favourite\": ") + mark + "}}}")
                         .code(),
                     -1);
        }
    }

    // Bodies the server would decode or assemble past its cap, too many header lines,
    // replies of several ranges: refused before a body is read.
    void refusedBeforeTheBody()
    {
        httplib::SSLClient http("127.0.0.1", m_service->port());
        http.set_ca_cert_path((m_service->dataDir() + "/ca.pem").c_str());
        http.enable_server_certificate_verification(true);
        const std::string push = "/api/push/?user_token=" + m_client->userToken;
        auto gzip = http.Post(push.c_str(), {{"Content-Encoding", "gzip"}}, std::string(100, '\x1f'),
                              "application/octet-stream");
        QVERIFY(gzip);
        QCOMPARE(gzip->status, 415);
        const std::string chunk(1024 * 1024, 'c');
        auto chunked = http.Post(
            push.c_str(),
            [&chunk](size_t offset, httplib::DataSink &sink) {
                if (offset >= 9 * chunk.size())
                    sink.done();
                else
                    sink.write(chunk.data(), chunk.size());
                return true;
            },
            "application/octet-stream");
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
        QCOMPARE(m_client->get("check_version/").code(), 0);
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

        const auto signedUp = std::find_if(clients.begin(), clients.end(), [](const auto &c) { return !c->userToken.empty(); });
        QVERIFY(signedUp != clients.end());
        ApiClient &owner = **signedUp;
        QVERIFY(!owner.pushText("one").is_null());
        QVERIFY(!owner.pushText("two").is_null());
        const Reply third = owner.post("push/", json {{"history", {{"content", "three"}, {"file_hash", md5Hex("three")}}}}.dump());
        QCOMPARE(third.status, 507);
        QCOMPARE(owner.get("pull/", "&last_request_timestamp=0").body["histories"].size(), size_t(2));
        // An entry it already has is still updated.
        QVERIFY(!owner.pushText("one", 0, 2000).is_null());
    }

    void sqlTextInHashesAndIds()
    {
        const std::string injected = "' OR '1'='1";
        json item = {{"history", {{"file_hash", injected}, {"content", "x"}}}};
        QCOMPARE(m_client->post("push/", item.dump()).code(), -1);
        item["history"]["file_hash"] = "0123456789abcdef0123456789abcde'";
        QCOMPARE(m_client->post("push/", item.dump()).code(), -1);
        QCOMPARE(m_client->put("push/", item.dump()).code(), -1);
        QCOMPARE(m_client->post("set_favourite/", item.dump()).code(), -1);
        QCOMPARE(m_client->del("push/", "&history_id=1%20OR%201=1").code(), -1);
        QCOMPARE(m_client->del("push/", "&history_id=1;DELETE%20FROM%20entries").code(), -1);
        QCOMPARE(m_client->get("push/", "&history_id=0&file_hash=x'%20OR%201=1--").code(), -1);
        QCOMPARE(m_client->get("get_upload_token/", "&file_id=1;DROP%20TABLE%20entries&file_hash=" + md5Hex("first"))
                     .status,
                 400);
        QCOMPARE(m_client->post("get_favourite/", R"({"favourites": {"1 OR 1=1": {"favourite": 5}}})").code(), -1);
        QCOMPARE(m_client->get("pull/", "&last_request_timestamp=0%20OR%201=1").code(), 0);
        QCOMPARE(m_client->get("register/", "&username=x'--@example.com&pwd_hash=" + md5Hex("p")).code(), -1);
        ApiClient other(*m_service);
        QCOMPARE(other.login("' OR 1=1 --", "pw").code(), 1003);
        other.userToken = "' OR '1'='1";
        QCOMPARE(other.get("pull/").status, 401);
    }

    void pathTricksInObjectKeys()
    {
        for (const std::string path :
             {"/oss/object/../service.db", "/oss/object/..%2F..%2Fservice.db", "/oss/object/1/..%2F..%2Fservice.db",
              "/oss/object/%2Fetc%2Fpasswd?expires=99999999999&signature=00", "/oss/object/1/2/../../../service.db"}) {
            const Reply reply = m_client->getAbsolute(path);
            QVERIFY2(reply.status >= 400 && reply.status < 500, path.c_str());
            QVERIFY(reply.raw.find("SQLite format") == std::string::npos);
        }

        // A valid token for our entry, but the form names a key outside the store.
        const json entry = m_client->get("push/", "&history_id=0&file_hash=" + md5Hex("first")).body["history"];
        const json token = m_client->get("get_upload_token/", "&file_id=" + std::to_string(entry["file_id"].get<std::int64_t>())
                                                                  + "&file_hash=" + md5Hex("first"))
                               .body;
        for (const std::string key : {"../../escaped", "1/../../escaped", "/tmp/escaped"}) {
            const Reply reply = m_client->postForm(token["host"],
                                                   {{"key", key},
                                                    {"policy", token["policy"]},
                                                    {"callback", token["callback"]},
                                                    {"OSSAccessKeyId", token["accessid"]},
                                                    {"Signature", token["signature"]},
                                                    {"success_action_status", "200"}},
                                                   "bytes", "f");
            QCOMPARE(reply.status, 403);
        }
        QVERIFY(!QFileInfo::exists(QString::fromStdString(m_service->dataDir() + "/escaped")));
        QVERIFY(!QFileInfo::exists("/tmp/escaped"));
        QVERIFY(QDir(QString::fromStdString(m_service->dataDir() + "/objects")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    }

    void otherUsersDataIsOutOfReach()
    {
        const json entry = m_client->get("push/", "&history_id=0&file_hash=" + md5Hex("first")).body["history"];
        const std::string id = std::to_string(entry["history_id"].get<std::int64_t>());
        ApiClient intruder(*m_service);
        QCOMPARE(intruder.registerUser("quinn@example.com", "pw").code(), 0);
        QCOMPARE(intruder.get("push/", "&history_id=" + id).code(), -10);
        QCOMPARE(intruder.del("push/", "&history_id=" + id).body["deleted"].get<int>(), 0);
        QCOMPARE(intruder.post("set_favourite/", json {{"history", {{"file_hash", md5Hex("first")}, {"favourite", 9e15}}}}.dump()).code(), -10);
        const Reply merged = intruder.post("get_favourite/", json {{"favourites", {{id, {{"favourite", 9000000}}}}}}.dump());
        QVERIFY(merged.body["delfavourites"].size() == 1);
        QVERIFY(merged.body["histories"].empty());
        QCOMPARE(intruder.get("get_upload_token/", "&file_id=" + std::to_string(entry["file_id"].get<std::int64_t>())
                                                       + "&file_hash=" + md5Hex("first"))
                     .status,
                 404);
        QVERIFY(intruder.get("pull/", "&last_request_timestamp=0").body["histories"].empty());
    }
};

ZORVEL_TEST_MAIN(TestServiceHardening)
#include "tst_service_hardening.moc"
