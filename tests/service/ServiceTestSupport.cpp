#include "ServiceTestSupport.h"

#include "Codec.h"
#include "support/TestBroker.h"
#include "Database.h"
#include "PgConnection.h"
#include "SqliteConnection.h"

#include <httplib.h>
#include <sodium.h>

#include <QDir>

#include <cstdlib>

namespace ServiceTest {

namespace {

std::string databaseUrl()
{
    const char *url = std::getenv("ZORVEL_TEST_DATABASE");
    return url ? url : "";
}

} // namespace

bool TestDatabase::isPostgres()
{
    return ZorvelService::Database::isPostgresUrl(databaseUrl());
}

TestDatabase::TestDatabase()
{
    if (!isPostgres())
        return;
    const std::string server = databaseUrl();
    m_schema = "test_" + ZorvelService::Codec::toHex(ZorvelService::Codec::randomBytes(8));
    ZorvelService::PgConnection(server).exec("CREATE SCHEMA " + m_schema);
    m_url = server + (server.find('?') == std::string::npos ? "?" : "&") + "options=-c%20search_path%3D" + m_schema;
}

TestDatabase::~TestDatabase()
{
    try {
        if (!m_schema.empty())
            ZorvelService::PgConnection(databaseUrl()).exec("DROP SCHEMA " + m_schema + " CASCADE");
    } catch (const ZorvelService::DatabaseError &e) {
        qWarning("cannot drop the test schema: %s", e.what());
    }
}

std::vector<std::string> TestDatabase::query(const std::string &dataDir, const std::string &sql) const
{
    std::unique_ptr<ZorvelService::SqlConnection> db;
    if (m_url.empty())
        db = std::make_unique<ZorvelService::SqliteConnection>(dataDir + "/service.db");
    else
        db = std::make_unique<ZorvelService::PgConnection>(m_url);
    ZorvelService::SqlStatement statement(*db, sql);
    std::vector<std::string> rows;
    while (statement.step())
        rows.push_back(statement.text(0));
    return rows;
}

TestService::TestService(const std::function<void(const std::string &)> &prepare, const json &limits)
{
    ZorvelService::ServiceOptions options;
    options.port = 0;
    options.dataDir = m_dir.path().toStdString() + "/data";
    options.broker = TestBroker::uri();
    const TestBroker::Account account = TestBroker::serviceAccount();
    options.brokerUser = account.user;
    options.brokerPassword = account.password;
    for (const char *rate : {"register_per_address_per_minute", "login_per_address_per_minute",
                             "login_per_account_per_minute", "reset_mail_per_address_per_hour",
                             "reset_mail_per_account_per_hour"})
        options.limitOverrides[rate] = 100000;
    options.limitOverrides.update(limits);
    if (prepare) {
        QDir().mkpath(QString::fromStdString(options.dataDir));
        prepare(options.dataDir);
    }
    options.database = m_database.url();
    m_service = std::make_unique<ZorvelService::Service>(options);
    std::string error;
    m_started = m_service->start(&error);
    if (!m_started)
        qWarning("service did not start: %s", error.c_str());
}

TestService::~TestService()
{
    m_service->stop();
}

ApiClient::ApiClient(TestService &service, const std::string &email)
    : ApiClient(service.port(), service.dataDir() + "/ca.pem")
{
    if (!email.empty() && registerUser(email, "pw").code() != 0)
        qWarning("cannot sign up %s", email.c_str());
}

ApiClient::ApiClient(int port, const std::string &caPath)
    : deviceToken("test-device-" + ZorvelService::Codec::toHex(ZorvelService::Codec::randomBytes(6)))
    , m_http(std::make_unique<httplib::SSLClient>("127.0.0.1", port))
{
    m_http->set_ca_cert_path(caPath.c_str());
    m_http->enable_server_certificate_verification(true);
    m_http->set_keep_alive(true);
    m_http->set_tcp_nodelay(true);
    m_http->set_read_timeout(30);
}

ApiClient::~ApiClient() = default;

std::string ApiClient::query(const std::string &extra) const
{
    std::string q = "?version=2.1.15&device_token=" + deviceToken + "&device_type=linux_6&encrypt=1";
    if (!userToken.empty())
        q += "&user_token=" + userToken;
    return q + extra;
}

Reply ApiClient::call(const std::string &method, const std::string &path, const std::string &body,
                      const std::string &extra, const std::string &type)
{
    httplib::Request request;
    request.method = method;
    request.body = body;
    if (path.rfind("https://", 0) == 0)
        request.path = path.substr(path.find('/', 8));
    else
        request.path = path.rfind('/', 0) == 0 ? path : "/api/" + path + query(extra);
    if (method == "POST")
        request.set_header("Content-Type", type);
    const httplib::Result result = m_http->send(request);
    Reply reply;
    if (!result)
        return reply;
    reply.status = result->status;
    reply.raw = result->body;
    reply.location = result->get_header_value("Location");
    reply.body = json::parse(result->body, nullptr, false);
    if (reply.body.is_discarded())
        reply.body = nullptr;
    return reply;
}

Reply ApiClient::upload(const json &token, const std::string &bytes, const Fields &changed)
{
    Fields fields = {{"key", token["key"]},
                     {"policy", token["policy"]},
                     {"callback", token["callback"]},
                     {"OSSAccessKeyId", token["accessid"]},
                     {"Signature", token["signature"]},
                     {"success_action_status", "200"}};
    for (const auto &[name, value] : changed)
        fields[name] = value;
    httplib::MultipartFormDataItems items;
    for (const auto &[name, value] : fields)
        items.push_back({name, value, "", ""});
    items.push_back({"file", bytes, "f", "application/octet-stream"});
    const std::string host = token["host"];
    auto result = m_http->Post(host.substr(host.find('/', 8)).c_str(), items);
    Reply reply;
    reply.status = result ? result->status : 0;
    reply.body = json::parse(result ? result->body : "", nullptr, false);
    return reply;
}

Reply ApiClient::signedIn(Reply reply)
{
    if (reply.code() == 0) {
        userToken = reply.body["token"];
        userId = reply.body["user_id"];
    }
    return reply;
}

Reply ApiClient::registerUser(const std::string &email, const std::string &password)
{
    return signedIn(get("register/", "&username=" + email + "&pwd_hash=" + md5Hex(password) + "&device_name=host"));
}

Reply ApiClient::login(const std::string &email, const std::string &password)
{
    const json body = {{"username", email}, {"pwd_hash", sealForService(md5Hex(password))}};
    return signedIn(post("login_v2/", body.dump(4), "&device_name=host"));
}

std::string ApiClient::sealForService(const std::string &bytes)
{
    const auto publicKey = ZorvelService::Codec::fromBase64(get("public_key/").body.value("public_key", ""));
    if (!publicKey || publicKey->size() != crypto_box_PUBLICKEYBYTES)
        return {};
    std::string sealed(bytes.size() + crypto_box_SEALBYTES, '\0');
    crypto_box_seal(reinterpret_cast<unsigned char *>(sealed.data()),
                    reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                    reinterpret_cast<const unsigned char *>(publicKey->data()));
    return ZorvelService::Codec::toBase64(sealed);
}

json ApiClient::pushText(const std::string &text, std::int64_t favourite, double timestamp)
{
    const Reply reply = post("push/", history(textItem(text, favourite, timestamp)));
    return reply.code() == 0 ? reply.body["history"] : json();
}

json textItem(const std::string &text, std::int64_t favourite, double timestamp, const std::string &keyHash)
{
    json i = {{"content", text},           {"timestamp", timestamp}, {"device_name", "host"},
              {"file_hash", md5Hex(text)}, {"file_name", ""},        {"file_size", text.size()},
              {"type", keyHash.empty() ? "text_txt" : "text_txt+enc"}, {"favourite", favourite}};
    if (!keyHash.empty())
        i["key_hash"] = keyHash;
    return i;
}

std::string history(const json &item)
{
    return json {{"history", item}}.dump(4);
}

std::string idOf(const json &entry)
{
    return std::to_string(entry["history_id"].get<std::int64_t>());
}

std::string fileQuery(const json &entry)
{
    return "&file_id=" + std::to_string(entry["file_id"].get<std::int64_t>()) + "&file_hash="
        + entry["file_hash"].get<std::string>();
}

std::string md5Hex(const std::string &text)
{
    return ZorvelService::Codec::md5Hex(text);
}

TestKey makeKey(const std::string &keyHash, const std::string &pin)
{
    unsigned char pinHash[32];
    crypto_generichash(pinHash, sizeof pinHash, reinterpret_cast<const unsigned char *>(pin.data()), pin.size(),
                       nullptr, 0);
    const std::string wrapped = ZorvelService::Codec::randomBytes(48);
    const std::string salt = ZorvelService::Codec::randomBytes(16);
    const std::string message = "cindral verifier v2" + salt + wrapped;
    unsigned char verifier[16];
    crypto_generichash(verifier, sizeof verifier, reinterpret_cast<const unsigned char *>(message.data()),
                       message.size(), pinHash, sizeof pinHash);
    TestKey key;
    key.dict = {{"key_timestamp", 1700000000},
                {"key_hash", keyHash},
                {"cipher", ZorvelService::Codec::toBase64(wrapped)},
                {"cipher_timestamp", 1700000001},
                {"cipher_hash", ZorvelService::Codec::toHex(salt)
                                    + ZorvelService::Codec::toHex(std::string(reinterpret_cast<char *>(verifier), 16))},
                {"version", "1.0"},
                {"platform", "linux_6"}};
    key.pinHash = ZorvelService::Codec::toBase64(std::string(reinterpret_cast<char *>(pinHash), sizeof pinHash));
    return key;
}

} // namespace ServiceTest
