#include "ServiceTestSupport.h"

#include "Codec.h"
#include "support/TestBroker.h"
#include "Database.h"
#include "PgConnection.h"
#include "SqliteConnection.h"

#include <MQTTAsync.h>
#include <httplib.h>
#include <sodium.h>

#include <QDir>
#include <QTest>

#include <cstdlib>

namespace ServiceTest {

namespace {

std::string databaseUrl()
{
    const char *url = std::getenv("ZORVEL_TEST_DATABASE");
    return url ? url : "";
}

std::unique_ptr<ZorvelService::SqlConnection> connect(const std::string &url, const std::string &dataDir)
{
    if (url.empty())
        return std::make_unique<ZorvelService::SqliteConnection>(dataDir + "/service.db");
    return std::make_unique<ZorvelService::PgConnection>(url);
}

} // namespace

bool TestDatabase::isPostgres()
{
    return ZorvelService::Database::isPostgresUrl(databaseUrl());
}

TestDatabase::TestDatabase()
{
    const std::string server = databaseUrl();
    if (!ZorvelService::Database::isPostgresUrl(server))
        return;
    m_schema = "test_" + ZorvelService::Codec::toHex(ZorvelService::Codec::randomBytes(8));
    ZorvelService::PgConnection(server).exec("CREATE SCHEMA " + m_schema);
    m_url = server + (server.find('?') == std::string::npos ? "?" : "&") + "options=-c%20search_path%3D" + m_schema;
}

TestDatabase::~TestDatabase()
{
    if (m_schema.empty())
        return;
    try {
        ZorvelService::PgConnection(databaseUrl()).exec("DROP SCHEMA " + m_schema + " CASCADE");
    } catch (const ZorvelService::DatabaseError &e) {
        qWarning("cannot drop the test schema: %s", e.what());
    }
}

std::vector<std::string> TestDatabase::query(const std::string &dataDir, const std::string &sql) const
{
    auto db = connect(m_url, dataDir);
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
    options.limitOverrides = {{"register_per_address_per_minute", 100000},
                              {"login_per_address_per_minute", 100000},
                              {"login_per_account_per_minute", 100000},
                              {"reset_mail_per_address_per_hour", 100000},
                              {"reset_mail_per_account_per_hour", 100000}};
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

ApiClient::ApiClient(TestService &service)
    : ApiClient(service.port(), service.dataDir() + "/ca.pem")
{
}

ApiClient::ApiClient(int port, const std::string &caPath)
    : deviceToken("test-device-" + ZorvelService::Codec::toHex(ZorvelService::Codec::randomBytes(6)))
    , m_port(port)
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

Reply ApiClient::finish(void *resultPointer)
{
    auto &result = *static_cast<httplib::Result *>(resultPointer);
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

Reply ApiClient::get(const std::string &path, const std::string &extra)
{
    auto result = m_http->Get(("/api/" + path + query(extra)).c_str());
    return finish(&result);
}

Reply ApiClient::post(const std::string &path, const std::string &body, const std::string &extra)
{
    auto result = m_http->Post(("/api/" + path + query(extra)).c_str(), body, "application/octet-stream");
    return finish(&result);
}

Reply ApiClient::put(const std::string &path, const std::string &body, const std::string &extra)
{
    auto result = m_http->Put(("/api/" + path + query(extra)).c_str(), body, "");
    return finish(&result);
}

Reply ApiClient::del(const std::string &path, const std::string &extra)
{
    auto result = m_http->Delete(("/api/" + path + query(extra)).c_str());
    return finish(&result);
}

Reply ApiClient::getAbsolute(const std::string &url)
{
    const std::string prefix = "https://127.0.0.1:" + std::to_string(m_port);
    const std::string path = url.rfind(prefix, 0) == 0 ? url.substr(prefix.size()) : url;
    auto result = m_http->Get(path.c_str());
    return finish(&result);
}

Reply ApiClient::postForm(const std::string &url, const std::vector<std::pair<std::string, std::string>> &fields,
                          const std::string &fileBytes, const std::string &fileName)
{
    const std::string prefix = "https://127.0.0.1:" + std::to_string(m_port);
    const std::string path = url.rfind(prefix, 0) == 0 ? url.substr(prefix.size()) : url;
    httplib::MultipartFormDataItems items;
    for (const auto &[name, value] : fields)
        items.push_back({name, value, "", ""});
    items.push_back({"file", fileBytes, fileName, "application/octet-stream"});
    auto result = m_http->Post(path.c_str(), items);
    return finish(&result);
}

Reply ApiClient::registerUser(const std::string &email, const std::string &password)
{
    Reply reply = get("register/", "&username=" + email + "&pwd_hash=" + md5Hex(password) + "&device_name=host");
    if (reply.code() == 0) {
        userToken = reply.body["token"];
        userId = reply.body["user_id"];
        mqtt = reply.body.value("mqtt", json());
    }
    return reply;
}

std::string ApiClient::sealForService(const std::string &bytes)
{
    const Reply key = get("public_key/");
    const auto publicKey = ZorvelService::Codec::fromBase64(key.body.value("public_key", ""));
    if (!publicKey || publicKey->size() != crypto_box_PUBLICKEYBYTES)
        return {};
    std::string sealed(bytes.size() + crypto_box_SEALBYTES, '\0');
    crypto_box_seal(reinterpret_cast<unsigned char *>(sealed.data()),
                    reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                    reinterpret_cast<const unsigned char *>(publicKey->data()));
    return ZorvelService::Codec::toBase64(sealed);
}

Reply ApiClient::login(const std::string &email, const std::string &password)
{
    const json body = {{"username", email}, {"pwd_hash", sealForService(md5Hex(password))}};
    Reply reply = post("login_v2/", body.dump(4), "&device_name=host");
    if (reply.code() == 0) {
        userToken = reply.body["token"];
        userId = reply.body["user_id"];
        mqtt = reply.body.value("mqtt", json());
    }
    return reply;
}

json ApiClient::pushText(const std::string &text, std::int64_t favourite, double timestamp)
{
    const json item = {{"content", text},         {"timestamp", timestamp}, {"device_name", "host"},
                       {"file_hash", md5Hex(text)}, {"file_name", ""},       {"file_size", text.size()},
                       {"type", "text_txt"},        {"favourite", favourite}};
    const Reply reply = post("push/", json {{"history", item}}.dump());
    return reply.code() == 0 ? reply.body["history"] : json();
}

namespace {

struct SubscribeRequest {
    Subscriber *subscriber;
    MQTTAsync client;
    std::string topic;
};

int arrived(void *context, char *topic, int, MQTTAsync_message *message)
{
    static_cast<Subscriber *>(context)->onMessage(
        std::string(static_cast<const char *>(message->payload), static_cast<size_t>(message->payloadlen)));
    MQTTAsync_freeMessage(&message);
    MQTTAsync_free(topic);
    return 1;
}

} // namespace

Subscriber::Subscriber(const ApiClient &device, const std::string &topic)
    : Subscriber(device.mqtt.value("username", ""), device.mqtt.value("password", ""),
                 device.mqtt.value("client_id", ""), topic.empty() ? "user_id_" + std::to_string(device.userId) : topic)
{
}

Subscriber::Subscriber(const std::string &user, const std::string &password, const std::string &clientId,
                       const std::string &topic)
{
    MQTTAsync client = nullptr;
    const std::string id = clientId.empty() ? "service-test-" + ZorvelService::Codec::toHex(ZorvelService::Codec::randomBytes(6))
                                            : clientId;
    MQTTAsync_create(&client, TestBroker::uri().c_str(), id.c_str(), MQTTCLIENT_PERSISTENCE_NONE, nullptr);
    m_client = client;
    MQTTAsync_setCallbacks(client, this, nullptr, &arrived, nullptr);
    auto *request = new SubscribeRequest {this, client, topic};
    MQTTAsync_connectOptions options = MQTTAsync_connectOptions_initializer;
    options.username = user.c_str();
    options.password = password.c_str();
    options.cleansession = 1;
    options.context = request;
    options.onSuccess = [](void *context, MQTTAsync_successData *) {
        auto *req = static_cast<SubscribeRequest *>(context);
        MQTTAsync_responseOptions sub = MQTTAsync_responseOptions_initializer;
        sub.context = req->subscriber;
        sub.onSuccess = [](void *s, MQTTAsync_successData *) { static_cast<Subscriber *>(s)->setAnswer(true); };
        sub.onFailure = [](void *s, MQTTAsync_failureData *) { static_cast<Subscriber *>(s)->setAnswer(false); };
        MQTTAsync_subscribe(req->client, req->topic.c_str(), 0, &sub);
        delete req;
    };
    options.onFailure = [](void *context, MQTTAsync_failureData *) {
        auto *req = static_cast<SubscribeRequest *>(context);
        req->subscriber->setAnswer(false);
        delete req;
    };
    MQTTAsync_connect(client, &options);
}

Subscriber::~Subscriber()
{
    MQTTAsync client = static_cast<MQTTAsync>(m_client);
    MQTTAsync_disconnectOptions options = MQTTAsync_disconnectOptions_initializer;
    options.timeout = 0;
    MQTTAsync_disconnect(client, &options);
    for (int i = 0; i < 100 && MQTTAsync_isConnected(client); ++i)
        QTest::qWait(10);
    MQTTAsync_destroy(&client);
}

bool Subscriber::ready() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_answered && m_granted;
}

bool Subscriber::answered() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_answered;
}

bool Subscriber::granted() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_granted;
}

void Subscriber::setAnswer(bool granted)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answered = true;
    m_granted = granted;
}

void Subscriber::onMessage(const std::string &payload)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.push_back(json::parse(payload, nullptr, false));
}

std::vector<json> Subscriber::messages() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

json Subscriber::find(const std::string &protocol, const std::string &fileHash, const std::string &deviceToken) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const json &m : m_messages) {
        if (m.is_object() && m.value("protocol", "") == protocol
            && (fileHash.empty() || m["data"].value("file_hash", "") == fileHash)
            && (deviceToken.empty() || m["data"].value("device_token", "") == deviceToken))
            return m;
    }
    return json();
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
