// zorvel-service on loopback: request throughput and latency with 8 concurrent HTTPS
// connections (push POST, incremental pull) on SQLite with one node, on PostgreSQL
// with one node and with two nodes (two service instances on one database, the
// connections spread over both); and the delay from a finished upload to the MQTT
// notification at a subscriber. On SQLite also: push/pull with the limits lifted (as
// before the service had them), pull latency during a burst of 64 sign-ins with the
// peak memory, and pull latency with 200 idle connections open. Runs its own service
// instances on free ports; needs the broker from scripts/services.d/mosquitto and the
// PostgreSQL cluster from scripts/services.d/postgresql (the PostgreSQL rows are left
// out without it).

#include "BenchTable.h"

#include "Codec.h"
#include "PgConnection.h"
#include "support/TestBroker.h"
#include "Service.h"

#include <MQTTAsync.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <sodium.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kConnections = 8;
constexpr int kRequestsPerConnection = 150;
constexpr int kRounds = 7;

struct Client {
    Client(const ZorvelService::Service &service, const std::string &caPath)
        : http("127.0.0.1", service.port())
    {
        http.set_ca_cert_path(caPath.c_str());
        http.enable_server_certificate_verification(true);
        http.set_keep_alive(true);
        http.set_tcp_nodelay(true);
    }
    explicit Client(const ZorvelService::Service &service)
        : Client(service, service.dataDir() + "/ca.pem")
    {
    }
    httplib::SSLClient http;
};

std::string query(const std::string &token)
{
    return "?version=2.1.15&device_token=bench&device_type=linux_6&encrypt=1&user_token=" + token;
}

std::string pushBody(const std::string &text)
{
    return json {{"history",
                  {{"content", text},
                   {"timestamp", 1000},
                   {"device_name", "bench"},
                   {"file_hash", ZorvelService::Codec::md5Hex(text)},
                   {"file_name", ""},
                   {"file_size", text.size()},
                   {"type", "text_txt"},
                   {"favourite", 0}}}}
        .dump(4);
}

struct Throughput {
    Bench::Stats rate;    // req/s: median round, slowest round
    Bench::Stats latency; // ms per request: median, p99
};

// kRounds rounds of kConnections × kRequestsPerConnection; connection c talks to
// node c % nodes.
Throughput throughput(const std::vector<ZorvelService::Service *> &nodes,
                      const std::function<bool(Client &, int connection, int round, int i)> &request)
{
    std::vector<std::unique_ptr<Client>> clients;
    for (int c = 0; c < kConnections; ++c)
        clients.push_back(std::make_unique<Client>(*nodes[static_cast<std::size_t>(c) % nodes.size()],
                                                   nodes.front()->dataDir() + "/ca.pem"));
    QVector<double> rates;
    std::vector<double> latencies;
    for (int round = 0; round < kRounds; ++round) {
        std::atomic<int> failures {0};
        std::vector<std::vector<double>> took(kConnections);
        const auto start = Clock::now();
        std::vector<std::thread> threads;
        for (int c = 0; c < kConnections; ++c) {
            threads.emplace_back([&, c] {
                for (int i = 0; i < kRequestsPerConnection; ++i) {
                    const auto sent = Clock::now();
                    if (!request(*clients[c], c, round, i))
                        ++failures;
                    took[c].push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
                }
            });
        }
        for (auto &t : threads)
            t.join();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (failures)
            std::fprintf(stderr, "%d failed requests\n", failures.load());
        rates.append(kConnections * kRequestsPerConnection / seconds);
        for (const auto &t : took)
            latencies.insert(latencies.end(), t.begin(), t.end());
    }
    // For a rate the slow end matters: report the slowest round in the p95 column.
    std::sort(rates.begin(), rates.end());
    std::sort(latencies.begin(), latencies.end());
    const double p99 = latencies.at(std::min(latencies.size() - 1, latencies.size() * 99 / 100));
    return {{rates.at(rates.size() / 2), rates.front()}, {latencies.at(latencies.size() / 2), p99}};
}

struct Account {
    std::string query;
    std::int64_t userId = 0;
    json mqtt; // the device's broker account
};

Account signUp(ZorvelService::Service &service, const std::string &email)
{
    Client setup(service);
    const auto reg = setup.http.Get(
        ("/api/register/" + query("") + "&username=" + email + "&pwd_hash=" + ZorvelService::Codec::md5Hex("pw")).c_str());
    const json account = json::parse(reg->body);
    return {query(account["token"]), account["user_id"], account.value("mqtt", json::object())};
}

// Every benchmark client comes from 127.0.0.1: sign-up and sign-in rates are lifted;
// the other limits hold unless `limits` says otherwise.
ZorvelService::ServiceOptions benchOptions(const std::string &dataDir, const json &limits = json::object())
{
    ZorvelService::ServiceOptions options;
    options.port = 0;
    options.dataDir = dataDir;
    options.broker = TestBroker::uri();
    const TestBroker::Account account = TestBroker::serviceAccount();
    options.brokerUser = account.user;
    options.brokerPassword = account.password;
    options.limitOverrides = {{"register_per_address_per_minute", 1000000},
                              {"login_per_address_per_minute", 1000000},
                              {"login_per_account_per_minute", 1000000},
                              {"tokens_per_user", 1000}};
    options.limitOverrides.update(limits);
    return options;
}

// What the service allowed before it had limits: 32 threads, long time-outs, no
// quotas to speak of.
const json kUnlimited = {{"connections", 32},
                         {"read_timeout_seconds", 30},
                         {"write_timeout_seconds", 30},
                         {"keep_alive_requests", 100000},
                         {"header_lines", 100000},
                         {"password_workers", 32},
                         {"entries_per_user", 1000000000},
                         {"tokens_per_user", 1000000}};

double peakRssMiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

// Pull latencies (ms), each on a fresh connection, until `busy` is false (at least one).
QVector<double> pullLatencies(const ZorvelService::Service &service, const std::string &q, const std::atomic<bool> &busy)
{
    QVector<double> samples;
    do {
        Client client(service);
        const auto start = Clock::now();
        auto r = client.http.Get(("/api/pull/" + q + "&last_request_timestamp=0").c_str());
        if (r && r->status == 200)
            samples.append(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    } while (busy);
    return samples;
}

// Three bursts of 64 sign-ins at once (each an Argon2id at 64 MiB) with pulls running
// alongside; the p95 column holds the 99th percentile.
void signInBurst()
{
    QTemporaryDir dir;
    ZorvelService::Service service(benchOptions(dir.path().toStdString()));
    std::string error;
    if (!service.start(&error))
        return;
    const Account account = signUp(service, "burst@example.com");
    Client setup(service);
    const json key = json::parse(setup.http.Get("/api/public_key/")->body);
    const std::string publicKey = *ZorvelService::Codec::fromBase64(key["public_key"]);
    const std::string md5 = ZorvelService::Codec::md5Hex("pw");
    std::string sealed(md5.size() + crypto_box_SEALBYTES, '\0');
    crypto_box_seal(reinterpret_cast<unsigned char *>(sealed.data()), reinterpret_cast<const unsigned char *>(md5.data()),
                    md5.size(), reinterpret_cast<const unsigned char *>(publicKey.data()));
    const std::string body =
        json {{"username", "burst@example.com"}, {"pwd_hash", ZorvelService::Codec::toBase64(sealed)}}.dump();
    QVector<double> latencies;
    int refused = 0;
    for (int round = 0; round < 3; ++round) {
        std::atomic<bool> busy {true};
        std::atomic<int> busyReplies {0};
        std::vector<std::thread> burst;
        for (int i = 0; i < 64; ++i) {
            burst.emplace_back([&] {
                Client client(service);
                auto r = client.http.Post(("/api/login_v2/" + query("")).c_str(), body, "application/octet-stream");
                if (!r || r->status != 200)
                    ++busyReplies;
            });
        }
        std::thread puller([&] { latencies += pullLatencies(service, account.query, busy); });
        for (auto &t : burst)
            t.join();
        busy = false;
        puller.join();
        refused += busyReplies;
    }
    std::sort(latencies.begin(), latencies.end());
    const Bench::Stats p50p99 = latencies.isEmpty()
        ? Bench::Stats {}
        : Bench::Stats {latencies.at(latencies.size() / 2),
                        latencies.at(std::min<int>(latencies.size() - 1, int(latencies.size() * 0.99)))};
    Bench::report("service: pull during 64 sign-ins (median | p99; " + QString::number(refused)
                      + " of 192 sign-ins answered 503)",
                  p50p99, "ms", "p99 <= 1000 ms");
    Bench::report("service: peak RSS after the 64-sign-in bursts", {peakRssMiB(), peakRssMiB()}, "MiB", "<= 512 MiB");
}

// 200 TCP connections that never speak, then a normal client's pulls.
void idleConnections()
{
    QTemporaryDir dir;
    ZorvelService::Service service(benchOptions(dir.path().toStdString()));
    std::string error;
    if (!service.start(&error))
        return;
    const Account account = signUp(service, "idle@example.com");
    std::vector<int> idle;
    for (int i = 0; i < 200; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(service.port()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
            idle.push_back(fd);
        else
            close(fd);
    }
    const std::atomic<bool> once {false};
    QVector<double> latencies;
    for (int i = 0; i < 10; ++i)
        latencies += pullLatencies(service, account.query, once);
    Bench::report("service: pull with 200 idle connections open", Bench::stats(latencies), "ms", "<= 1000 ms");
    for (const int fd : idle)
        close(fd);
}

// Push and incremental-pull rows for one set of nodes. Each connection is a user of
// its own: writes of one user run one after the other on any backend, those of
// different users in parallel.
void measure(const std::vector<ZorvelService::Service *> &nodes, const std::string &label)
{
    std::vector<std::string> queries;
    for (int c = 0; c < kConnections; ++c)
        queries.push_back(signUp(*nodes.front(), "bench" + std::to_string(c) + "@example.com").query);
    const Throughput push = throughput(nodes, [&](Client &client, int c, int round, int i) {
        const std::string text = "bench " + std::to_string(round) + "/" + std::to_string(i);
        auto r = client.http.Post(("/api/push/" + queries[c]).c_str(), pushBody(text), "application/octet-stream");
        return r && r->status == 200;
    });
    Bench::report(QString::fromStdString("service " + label + ": push POST, 8 connections"), push.rate, "req/s",
                  ">= 1000 req/s");
    Bench::report(QString::fromStdString("service " + label + ": push latency (median | p99)"), push.latency, "ms",
                  "<= 50 ms");

    // An incremental pull: what changed since a recent pull (a few entries).
    Client setup(*nodes.front());
    std::vector<std::string> pullPaths;
    for (const std::string &q : queries) {
        std::int64_t since = 0;
        for (;;) {
            const json page = json::parse(
                setup.http.Get(("/api/pull/" + q + "&last_request_timestamp=" + std::to_string(since)).c_str())->body);
            since = page["request_timestamp"];
            if (page["histories"].size() < 100)
                break;
        }
        for (int i = 0; i < 5; ++i)
            setup.http.Post(("/api/push/" + q).c_str(), pushBody("fresh " + std::to_string(i)), "application/octet-stream");
        pullPaths.push_back("/api/pull/" + q + "&last_request_timestamp=" + std::to_string(since));
    }
    const Throughput pull = throughput(nodes, [&](Client &client, int c, int, int) {
        auto r = client.http.Get(pullPaths[static_cast<std::size_t>(c)].c_str());
        return r && r->status == 200;
    });
    Bench::report(QString::fromStdString("service " + label + ": pull (5 changes), 8 connections"), pull.rate,
                  "req/s", ">= 1000 req/s");
    Bench::report(QString::fromStdString("service " + label + ": pull latency (median | p99)"), pull.latency, "ms",
                  "<= 50 ms");
}

// Service nodes on one database and one shared data folder (secrets, objects and the
// CA that clients trust), as on a shared mount.
class Nodes {
public:
    Nodes(const std::string &root, const std::string &database, int count)
    {
        for (int n = 0; n < count; ++n) {
            ZorvelService::ServiceOptions options = benchOptions(root);
            options.database = database;
            m_services.push_back(std::make_unique<ZorvelService::Service>(options));
            std::string error;
            if (!m_services.back()->start(&error)) {
                std::fprintf(stderr, "service did not start: %s\n", error.c_str());
                m_services.clear();
                return;
            }
        }
    }
    std::vector<ZorvelService::Service *> all() const
    {
        std::vector<ZorvelService::Service *> out;
        for (const auto &s : m_services)
            out.push_back(s.get());
        return out;
    }
    bool ok() const { return !m_services.empty(); }

private:
    std::vector<std::unique_ptr<ZorvelService::Service>> m_services;
};

// A fresh schema on the benchmark cluster; dropped at the end.
class PgSchema {
public:
    PgSchema()
    {
        try {
            m_schema = "bench_" + ZorvelService::Codec::toHex(ZorvelService::Codec::randomBytes(6));
            ZorvelService::PgConnection(ZORVEL_BENCH_PG_URL).exec("CREATE SCHEMA " + m_schema);
            url = std::string(ZORVEL_BENCH_PG_URL) + "&options=-c%20search_path%3D" + m_schema;
        } catch (const ZorvelService::DatabaseError &e) {
            std::fprintf(stderr, "no PostgreSQL for the benchmark (%s)\n", e.what());
            m_schema.clear();
        }
    }
    ~PgSchema()
    {
        if (!m_schema.empty())
            ZorvelService::PgConnection(ZORVEL_BENCH_PG_URL).exec("DROP SCHEMA " + m_schema + " CASCADE");
    }
    std::string url;

private:
    std::string m_schema;
};

struct Subscriber {
    std::mutex mutex;
    std::condition_variable arrived;
    std::map<std::string, Clock::time_point> seen; // file hash → arrival
    bool ready = false;
};

int onMessage(void *context, char *topic, int, MQTTAsync_message *message)
{
    const auto now = Clock::now();
    auto *s = static_cast<Subscriber *>(context);
    const json m = json::parse(std::string(static_cast<char *>(message->payload), message->payloadlen), nullptr, false);
    if (m.is_object() && m.value("protocol", "") == "history_upload_file") {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->seen[m["data"].value("file_hash", "")] = now;
        s->arrived.notify_all();
    }
    MQTTAsync_freeMessage(&message);
    MQTTAsync_free(topic);
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (sodium_init() < 0)
        return 1;
    for (int nodes : {1, 2}) {
        PgSchema schema;
        QTemporaryDir pgDir;
        if (schema.url.empty())
            break;
        Nodes cluster(pgDir.path().toStdString(), schema.url, nodes);
        if (cluster.ok())
            measure(cluster.all(), nodes == 1 ? "PostgreSQL, 1 node" : "PostgreSQL, 2 nodes");
    }

    {
        QTemporaryDir unlimitedDir;
        ZorvelService::Service unlimited(benchOptions(unlimitedDir.path().toStdString(), kUnlimited));
        std::string error;
        if (unlimited.start(&error))
            measure({&unlimited}, "SQLite, 1 node, limits lifted");
    }
    QTemporaryDir dir;
    ZorvelService::Service service(benchOptions(dir.path().toStdString()));
    std::string error;
    if (!service.start(&error)) {
        std::fprintf(stderr, "service did not start: %s\n", error.c_str());
        return 1;
    }
    measure({&service}, "SQLite, 1 node");
    signInBurst();
    idleConnections();
    // A new connection: the others have been idle past the keep-alive time.
    Client setup(service);
    const Account account = signUp(service, "notices@example.com");
    const std::string &q = account.query;
    const std::int64_t userId = account.userId;

    // Upload → notification at a subscriber of the user's topic.
    Subscriber subscriber;
    MQTTAsync mqtt = nullptr;
    MQTTAsync_create(&mqtt, TestBroker::uri().c_str(), account.mqtt.value("client_id", "").c_str(),
                     MQTTCLIENT_PERSISTENCE_NONE, nullptr);
    MQTTAsync_setCallbacks(mqtt, &subscriber, nullptr, &onMessage, nullptr);
    MQTTAsync_connectOptions connect = MQTTAsync_connectOptions_initializer;
    const std::string user = account.mqtt.value("username", "");
    const std::string password = account.mqtt.value("password", "");
    connect.username = user.c_str();
    connect.password = password.c_str();
    struct Ctx {
        MQTTAsync client;
        std::string topic;
        Subscriber *subscriber;
    } ctx {mqtt, "user_id_" + std::to_string(userId), &subscriber};
    connect.context = &ctx;
    connect.onSuccess = [](void *context, MQTTAsync_successData *) {
        auto *c = static_cast<Ctx *>(context);
        MQTTAsync_responseOptions sub = MQTTAsync_responseOptions_initializer;
        sub.context = c->subscriber;
        sub.onSuccess = [](void *s, MQTTAsync_successData *) {
            auto *subscriber = static_cast<Subscriber *>(s);
            std::lock_guard<std::mutex> lock(subscriber->mutex);
            subscriber->ready = true;
            subscriber->arrived.notify_all();
        };
        MQTTAsync_subscribe(c->client, c->topic.c_str(), 0, &sub);
    };
    MQTTAsync_connect(mqtt, &connect);
    {
        std::unique_lock<std::mutex> lock(subscriber.mutex);
        if (!subscriber.arrived.wait_for(lock, std::chrono::seconds(10), [&] { return subscriber.ready; })) {
            std::fprintf(stderr, "no broker at %s (scripts/services start <build>)\n", TestBroker::uri().c_str());
            return 1;
        }
    }
    QVector<double> delays;
    QVector<double> totals;
    for (int i = 0; i < 60; ++i) {
        const std::string text = "upload " + std::to_string(i);
        const json entry =
            json::parse(setup.http.Post(("/api/push/" + q).c_str(), pushBody(text), "application/octet-stream")->body)["history"];
        const std::string fileHash = entry["file_hash"];
        const json upload = json::parse(
            setup.http.Get(("/api/get_upload_token/" + q + "&file_id=" + std::to_string(entry["file_id"].get<std::int64_t>())
                            + "&file_hash=" + fileHash)
                               .c_str())
                ->body);
        httplib::MultipartFormDataItems form = {{"key", upload["key"], "", ""},
                                                {"policy", upload["policy"], "", ""},
                                                {"callback", upload["callback"], "", ""},
                                                {"OSSAccessKeyId", upload["accessid"], "", ""},
                                                {"Signature", upload["signature"], "", ""},
                                                {"success_action_status", "200", "", ""},
                                                {"file", std::string(20000, 'u'), fileHash, "application/octet-stream"}};
        const auto sent = Clock::now();
        auto done = setup.http.Post("/oss/upload", form);
        const auto completed = Clock::now();
        if (!done || done->status != 200)
            continue;
        std::unique_lock<std::mutex> lock(subscriber.mutex);
        if (subscriber.arrived.wait_for(lock, std::chrono::seconds(5), [&] { return subscriber.seen.count(fileHash) > 0; })) {
            delays.append(std::chrono::duration<double, std::milli>(subscriber.seen[fileHash] - completed).count());
            totals.append(std::chrono::duration<double, std::milli>(subscriber.seen[fileHash] - sent).count());
        }
    }
    MQTTAsync_disconnectOptions disconnect = MQTTAsync_disconnectOptions_initializer;
    MQTTAsync_disconnect(mqtt, &disconnect);
    Bench::report("service: upload done -> MQTT notice (<0: notice first)", Bench::stats(delays), "ms", "<= 50 ms");
    Bench::report("service: 20 KB upload sent -> MQTT notice", Bench::stats(totals), "ms", "<= 50 ms");
    service.stop();
    MQTTAsync_destroy(&mqtt);
    return 0;
}
