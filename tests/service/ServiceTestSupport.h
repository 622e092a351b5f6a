#pragma once

// Test helpers for zorvel-service: a service instance on a free loopback port with a
// temporary data folder, an HTTPS client that verifies the service's own CA, and the
// client-side crypto steps (sealing, PIN verifier) done with libsodium as the desktop
// client does them.

#include "Service.h"

#include <QTemporaryDir>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace httplib {
class SSLClient;
}

namespace ServiceTest {

using nlohmann::json;
using Fields = std::map<std::string, std::string>;

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
    // The first column of every row of a statement run on the database as it is.
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
    // email given: signs up with the password "pw" (the test's next request fails if not).
    explicit ApiClient(TestService &service, const std::string &email = {});
    // A service anywhere on loopback whose certificate one of the CAs in caPath signed.
    ApiClient(int port, const std::string &caPath);
    ~ApiClient();

    std::string deviceToken;
    std::string userToken;
    std::int64_t userId = 0;

    // path below /api/, e.g. "pull/", with the common query (and the user token when
    // signed in) and extra ("&name=value...") after it; a path from "/" or a full
    // https:// address on: that path as it is (an object URL, a redirect target).
    Reply call(const std::string &method, const std::string &path, const std::string &body = {},
               const std::string &extra = {}, const std::string &type = "application/octet-stream");
    Reply get(const std::string &path, const std::string &extra = {}) { return call("GET", path, {}, extra); }
    Reply post(const std::string &path, const std::string &body, const std::string &extra = {})
    {
        return call("POST", path, body, extra);
    }
    Reply put(const std::string &path, const std::string &body) { return call("PUT", path, body); }
    Reply del(const std::string &path, const std::string &extra) { return call("DELETE", path, {}, extra); }
    // The signed form of an upload token, with `changed` fields replaced, to its host.
    Reply upload(const json &token, const std::string &bytes, const Fields &changed = {});
    std::vector<json> pullAll() { return get("pull/", "&last_request_timestamp=0").body["histories"]; }

    Reply registerUser(const std::string &email, const std::string &password);
    Reply login(const std::string &email, const std::string &password);
    std::string sealForService(const std::string &bytes);

    // Pushes a plain text entry; returns the service's item.
    json pushText(const std::string &text, std::int64_t favourite = 0, double timestamp = 1000);

private:
    std::string query(const std::string &extra) const;
    Reply signedIn(Reply reply);

    std::unique_ptr<httplib::SSLClient> m_http;
};

std::string md5Hex(const std::string &text);
// An entry as the client pushes it; a key hash makes it an encrypted one.
json textItem(const std::string &text, std::int64_t favourite = 0, double timestamp = 1000,
              const std::string &keyHash = {});
// The body of push/ and set_favourite/.
std::string history(const json &item);
std::string idOf(const json &entry);
// "&file_id=...&file_hash=..." of an entry.
std::string fileQuery(const json &entry);

// What the client's key engine hands over for a PIN: the key dictionary whose
// cipher_hash carries salt and PIN verifier, and Base64 of the PIN proof, in the
// engine's format (tst_zeromanager checks the engine against it), with a fast hash of the
// PIN standing in for the engine's slow one.
struct TestKey {
    json dict;
    std::string pinHash;
};
TestKey makeKey(const std::string &keyHash, const std::string &pin);

} // namespace ServiceTest
