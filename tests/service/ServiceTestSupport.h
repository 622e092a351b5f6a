#pragma once

// Test helpers for zorvel-service: a service instance on a free loopback port with a
// temporary data folder, an HTTPS client that verifies the service's own CA, a
// subscriber on the real broker, and the client-side crypto steps (sealing, PIN
// verifier) done with libsodium as the desktop client does them.

#include "Service.h"

#include <QTemporaryDir>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace httplib {
class SSLClient;
}

namespace ServiceTest {

using nlohmann::json;

struct Reply {
    int status = 0; // 0: no answer at all
    json body;      // null when the body is not JSON
    std::string raw;
    std::string location;
    int code() const { return body.is_object() && body.contains("code") ? body["code"].get<int>() : -999; }
};

// The database the tests run against: SQLite in the data folder, or, when
// ZORVEL_TEST_DATABASE holds a postgresql:// URL, a schema of its own on that server
// (dropped at the end), so that every test starts empty.
class TestDatabase {
public:
    TestDatabase();
    ~TestDatabase();
    // Empty for SQLite: the service's default file in its data folder.
    const std::string &url() const { return m_url; }
    static bool isPostgres();
    // Runs a statement on the database as it is (SQLite: the file in dataDir); the
    // first column of every row.
    std::vector<std::string> query(const std::string &dataDir, const std::string &sql) const;

private:
    std::string m_schema;
    std::string m_url;
};

class TestService {
public:
    // prepare runs on the empty data folder before the service starts (an old file);
    // `limits` overrides members of the service's limits; the rates per address and
    // account are raised unless given, since every test client shares 127.0.0.1.
    explicit TestService(const std::function<void(const std::string &dataDir)> &prepare = {},
                         const json &limits = json::object());
    ~TestService();
    ZorvelService::Service &service() { return *m_service; }
    std::string dataDir() const { return m_service->dataDir(); }
    int port() const { return m_service->port(); }
    bool ok() const { return m_started; }
    std::vector<std::string> query(const std::string &sql) const { return m_database.query(dataDir(), sql); }

private:
    QTemporaryDir m_dir;
    TestDatabase m_database;
    std::unique_ptr<ZorvelService::Service> m_service;
    bool m_started = false;
};

class ApiClient {
public:
    explicit ApiClient(TestService &service);
    // A service anywhere on loopback whose certificate one of the CAs in caPath signed.
    ApiClient(int port, const std::string &caPath);
    ~ApiClient();

    std::string deviceToken;
    std::string userToken;
    std::int64_t userId = 0;
    json mqtt; // the broker account of the last sign-in

    // path below /api/, e.g. "pull/"; extra = "&name=value..." appended after the
    // common query (and the user token when signed in).
    Reply get(const std::string &path, const std::string &extra = {});
    Reply post(const std::string &path, const std::string &body, const std::string &extra = {});
    Reply put(const std::string &path, const std::string &body, const std::string &extra = {});
    Reply del(const std::string &path, const std::string &extra = {});
    // Any path on the service, e.g. an object URL or a redirect target.
    Reply getAbsolute(const std::string &url);
    Reply postForm(const std::string &url, const std::vector<std::pair<std::string, std::string>> &fields,
                   const std::string &fileBytes, const std::string &fileName);

    Reply registerUser(const std::string &email, const std::string &password);
    Reply login(const std::string &email, const std::string &password);
    std::string sealForService(const std::string &bytes);

    // Pushes a plain text entry; returns the service's item.
    json pushText(const std::string &text, std::int64_t favourite = 0, double timestamp = 1000);

private:
    std::string query(const std::string &extra) const;
    Reply finish(void *result);

    int m_port;
    std::unique_ptr<httplib::SSLClient> m_http;
};

// A device's connection to the broker with the account the service issued, subscribed
// to its user's topic (or `topic`).
class Subscriber {
public:
    explicit Subscriber(const ApiClient &device, const std::string &topic = {});
    Subscriber(const std::string &user, const std::string &password, const std::string &clientId,
               const std::string &topic);
    ~Subscriber();
    bool ready() const;
    // Messages received so far, as parsed JSON.
    std::vector<json> messages() const;
    // The first message of the protocol whose "data"."file_hash" and "device_token"
    // match where given, else null. Other test programs may publish on the same topic.
    json find(const std::string &protocol, const std::string &fileHash = {}, const std::string &deviceToken = {}) const;

    // Connected and the subscription answered; granted() false: refused by the broker.
    bool answered() const;
    bool granted() const;
    void onMessage(const std::string &payload);
    void setAnswer(bool granted);

private:
    void *m_client = nullptr;
    mutable std::mutex m_mutex;
    std::vector<json> m_messages;
    bool m_answered = false;
    bool m_granted = false;
};

std::string md5Hex(const std::string &text);
// What the client's key engine hands over for a PIN: the key dictionary whose
// cipher_hash carries salt and PIN verifier, and Base64 of the PIN proof (a stand-in
// here: a fast hash of the PIN; the engine's own records are checked in tst_service_keys).
struct TestKey {
    json dict;
    std::string pinHash;
};
TestKey makeKey(const std::string &keyHash, const std::string &pin);

} // namespace ServiceTest
