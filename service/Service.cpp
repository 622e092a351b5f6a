#include "Service.h"

#include "AccountApi.h"
#include "Accounts.h"
#include "ApiRequest.h"
#include "BrokerAccounts.h"
#include "Certificates.h"
#include "Database.h"
#include "EntryStore.h"
#include "FavouriteApi.h"
#include "FileApi.h"
#include "HistoryApi.h"
#include "KeyApi.h"
#include "KeyStore.h"
#include "Log.h"
#include "Notifier.h"
#include "ObjectStore.h"
#include "Outbox.h"
#include "PasswordGate.h"
#include "RateLimiter.h"
#include "ServerKeys.h"
#include "ServiceConstants.h"

#include <httplib.h>
#include <openssl/ssl.h>
#include <sodium.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

namespace ZorvelService {

namespace {

constexpr auto kHousekeepingInterval = std::chrono::minutes(1);

// What the server refuses before it reads a body: bodies it would decode or
// assemble past the size cap (compressed or chunked), more header lines than
// allowed, and replies of several byte ranges.
bool refusedBeforeBody(const httplib::Request &req, httplib::Response &res, int headerLines)
{
    const auto refuse = [&req, &res](int status, const std::string &message) {
        ApiRequest(req, res).fail(status, message, status);
        return true;
    };
    if (req.headers.size() > static_cast<std::size_t>(headerLines))
        return refuse(431, "too many header lines");
    const std::string encoding = req.get_header_value("Content-Encoding");
    if (!encoding.empty() && encoding != "identity")
        return refuse(415, "compressed request bodies are not accepted");
    const std::string transfer = req.get_header_value("Transfer-Encoding");
    if (!transfer.empty() && transfer != "identity")
        return refuse(411, "a request body needs a Content-Length");
    if (req.has_header("Range") && req.get_header_value("Range").find(',') != std::string::npos)
        return refuse(416, "one byte range at most");
    return false;
}

// The host part of an "https://host:port/..." URL, without IPv6 brackets.
std::string urlHost(const std::string &url)
{
    std::string rest = url;
    const auto scheme = rest.find("://");
    if (scheme != std::string::npos)
        rest = rest.substr(scheme + 3);
    rest = rest.substr(0, rest.find('/'));
    if (!rest.empty() && rest.front() == '[')
        return rest.substr(1, rest.find(']') - 1);
    return rest.substr(0, rest.rfind(':') == std::string::npos ? rest.size() : rest.rfind(':'));
}

// Called for every TLS record the server reads: its segment is acknowledged at once.
// Clients that send a request's head and body in two writes without TCP_NODELAY (Qt's
// network access hands the body over from another thread) hold the body back until
// the head is acknowledged, and a connection that has just answered delays that
// acknowledgement by up to 40 ms: every POST and PUT on a kept-alive connection would
// wait for it.
void acknowledgeReadAtOnce(int writing, int, int contentType, const void *, size_t, SSL *ssl, void *)
{
    if (writing || contentType != SSL3_RT_HEADER)
        return;
    const int fd = SSL_get_rfd(ssl);
    const int on = 1;
    if (fd >= 0)
        setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

bool makeFolder(const std::string &path, std::string *error)
{
    std::error_code failure;
    std::filesystem::create_directories(path, failure);
    if (!failure || std::filesystem::is_directory(path))
        return true;
    *error = "cannot create " + path + ": " + failure.message();
    return false;
}

} // namespace

Service::Service(ServiceOptions options)
    : m_options(std::move(options))
{
}

Service::~Service()
{
    stop();
}

std::string Service::caPath() const
{
    return Certificates(m_options.dataDir).caPath();
}

bool Service::brokerConnected() const
{
    return m_notifier && m_notifier->isConnected();
}

bool Service::start(std::string *error)
{
    if (sodium_init() < 0) {
        *error = "libsodium cannot start";
        return false;
    }
    if (!makeFolder(m_options.dataDir, error))
        return false;
    // The folder holds the database, keys and mail: the service's user only. The
    // database's -wal and -shm files take the database file's mode.
    chmod(m_options.dataDir.c_str(), 0700);
    if (m_options.database.empty()) {
        const std::string dbPath = m_options.dataDir + "/service.db";
        const int dbFile = ::open(dbPath.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        if (dbFile >= 0)
            ::close(dbFile);
        for (const char *suffix : {"", "-wal", "-shm"})
            chmod((dbPath + suffix).c_str(), 0600);
    }
    try {
        m_db = std::make_unique<Database>(m_options.database.empty() ? m_options.dataDir + "/service.db"
                                                                     : m_options.database);
    } catch (const DatabaseError &e) {
        *error = e.what();
        return false;
    }
    m_serverKeys = std::make_unique<ServerKeys>();
    if (!m_serverKeys->load(m_options.boxKeyPath.empty() ? m_options.dataDir + "/box-key" : m_options.boxKeyPath,
                            m_options.objectSecretPath.empty() ? m_options.dataDir + "/object-secret"
                                                               : m_options.objectSecretPath,
                            error))
        return false;

    // The public URL names the port, so a free port is bound before the certificate
    // and the routes are made; the TLS context is filled in below.
    std::vector<std::string> hosts = {"127.0.0.1", "localhost"};
    const auto addHost = [&hosts](const std::string &host) {
        if (!host.empty() && host != "0.0.0.0" && host != "::" && std::find(hosts.begin(), hosts.end(), host) == hosts.end())
            hosts.push_back(host);
    };
    addHost(m_options.host);
    addHost(urlHost(m_options.publicUrl));
    // A certificate of a public CA (e.g. renewed by certbot) is used as it is; otherwise
    // the service's own CA signs one, which clients must be given.
    Certificates certificates(m_options.dataDir);
    const bool ownCertificate = m_options.tlsCertPath.empty();
    if (ownCertificate && !certificates.ensure(hosts, error))
        return false;
    const std::string certPath = ownCertificate ? certificates.serverCertPath() : m_options.tlsCertPath;
    const std::string keyPath = ownCertificate ? certificates.serverKeyPath() : m_options.tlsKeyPath;
    m_server = std::make_unique<httplib::SSLServer>(certPath.c_str(), keyPath.c_str());
    if (!m_server->is_valid()) {
        *error = "the TLS server cannot use " + certPath + " and " + keyPath;
        return false;
    }
    m_config = std::make_unique<ServiceConfig>(m_options.dataDir);
    m_limits = m_config->limits(m_options.limitOverrides);
    configureServer(m_limits);

    if (m_options.port == 0) {
        m_port = m_server->bind_to_any_port(m_options.host);
    } else {
        m_port = m_server->bind_to_port(m_options.host, m_options.port) ? m_options.port : -1;
    }
    if (m_port <= 0) {
        *error = "cannot listen on " + m_options.host + ":" + std::to_string(m_options.port);
        return false;
    }
    const std::string hostInUrl = m_options.host.find(':') != std::string::npos ? "[" + m_options.host + "]"
                                                                                 : m_options.host;
    m_publicUrl = m_options.publicUrl.empty() ? "https://" + hostInUrl + ":" + std::to_string(m_port)
                                              : m_options.publicUrl;

    m_config->ensureFile(m_publicUrl);
    m_passwordGate = std::make_unique<PasswordGate>(m_limits.passwordWorkers, m_limits.passwordQueue);
    m_rates = std::make_unique<RateLimiter>();
    m_accounts = std::make_unique<Accounts>(*m_db, m_config->tokenDays(), *m_passwordGate, m_limits.tokensPerUser);
    m_entries = std::make_unique<EntryStore>(*m_db, m_limits.entriesPerUser, m_limits.bytesPerUser);
    m_keys = std::make_unique<KeyStore>(*m_db);
    const std::string objects = m_options.objectsDir.empty() ? m_options.dataDir + "/objects" : m_options.objectsDir;
    if (!makeFolder(objects, error))
        return false;
    m_objects = std::make_unique<ObjectStore>(objects, m_serverKeys->objectSecret());
    m_objects->removeLeftovers();
    m_outbox = std::make_unique<Outbox>(m_options.dataDir + "/outbox");
    m_notifier = std::make_unique<Notifier>(m_options.broker, m_options.brokerUser, m_options.brokerPassword);
    m_broker = std::make_unique<BrokerAccounts>(*m_notifier, m_serverKeys->objectSecret());
    m_broker->activeTokens = [this] { return m_accounts->activeTokens(); };
    m_accounts->tokenIssued = [this](std::int64_t userId, const std::string &digest) { m_broker->grant(userId, digest); };
    m_accounts->tokensEnded = [this](const std::vector<std::string> &digests) { m_broker->revoke(digests); };
    m_notifier->onControlResponse = [this](const nlohmann::json &reply) { m_broker->controlResponse(reply); };
    m_notifier->onConnected = [this] { m_broker->resynchronise(); };
    m_context.reset(new ApiContext {*m_accounts, *m_entries, *m_keys, *m_objects, *m_notifier, *m_outbox,
                                    *m_serverKeys, *m_config, m_publicUrl, *m_broker, *m_rates, m_limits});

    m_accountApi = std::make_unique<AccountApi>(*m_context);
    m_historyApi = std::make_unique<HistoryApi>(*m_context);
    m_favouriteApi = std::make_unique<FavouriteApi>(*m_context);
    m_fileApi = std::make_unique<FileApi>(*m_context);
    m_keyApi = std::make_unique<KeyApi>(*m_context);
    m_accountApi->registerRoutes(*m_server);
    m_historyApi->registerRoutes(*m_server);
    m_favouriteApi->registerRoutes(*m_server);
    m_fileApi->registerRoutes(*m_server);
    m_keyApi->registerRoutes(*m_server);

    m_server->set_exception_handler([](const httplib::Request &req, httplib::Response &res, std::exception_ptr ep) {
        std::string what = "unknown error";
        bool busy = false;
        try {
            std::rethrow_exception(ep);
        } catch (const ServiceBusy &) {
            busy = true;
        } catch (const std::exception &e) {
            what = e.what();
        } catch (...) {
        }
        if (busy) {
            res.set_header("Retry-After", "1");
            return ApiRequest(req, res).fail(kBusyStatus, "the service is busy; try again shortly", kBusyStatus);
        }
        Log::critical(req.method + " " + req.path + " failed: " + what);
        ApiRequest(req, res).fail(Code::InternalError, "internal error", 500);
    });
    // Errors raised by the server itself (unknown path, body too large) get a JSON
    // body like every other failure.
    m_server->set_error_handler([](const httplib::Request &req, httplib::Response &res) {
        if (!res.body.empty())
            return;
        const int status = res.status;
        const std::string message = status == 413 ? "the request body is larger than 8 MiB"
            : status == 404                       ? "no such endpoint"
                                                  : "request failed";
        ApiRequest(req, res).fail(status, message, status);
    });
    // Paths only: the query carries the user token.
    m_server->set_logger([](const httplib::Request &req, const httplib::Response &res) {
        if (res.status >= 400)
            Log::warning(req.method + " " + req.path + " -> " + std::to_string(res.status));
    });

    m_listener = std::thread([this] {
        m_server->listen_after_bind();
        m_listenEnded = true;
    });
    // stop() only reaches a server that runs already; until then it would be lost.
    while (!m_server->is_running() && !m_listenEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    m_housekeeper = std::thread([this] { housekeeping(); });
    Log::info("zorvel-service listening on " + m_publicUrl + " (data " + m_options.dataDir + ")");
    return true;
}

void Service::configureServer(const ServiceLimits &limits)
{
    // One thread per connection being served: idle or slow connections hold one each
    // for at most the read time-out, so there are far more threads than cores; the
    // password work, the part that costs memory, is bounded on its own.
    const int threads = limits.connections;
    m_server->new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
    m_server->set_payload_max_length(kMaxBodyBytes);
    m_server->set_keep_alive_max_count(static_cast<size_t>(limits.keepAliveRequests));
    m_server->set_keep_alive_timeout(limits.keepAliveSeconds);
    m_server->set_read_timeout(limits.readTimeoutSeconds);
    m_server->set_write_timeout(limits.writeTimeoutSeconds);
    m_server->set_tcp_nodelay(true);
    SSL_CTX_set_msg_callback(m_server->ssl_context(), &acknowledgeReadAtOnce);
    const int headerLines = limits.headerLines;
    m_server->set_pre_routing_handler([headerLines](const httplib::Request &req, httplib::Response &res) {
        return refusedBeforeBody(req, res, headerLines) ? httplib::Server::HandlerResponse::Handled
                                                        : httplib::Server::HandlerResponse::Unhandled;
    });
}

void Service::housekeeping()
{
    std::unique_lock<std::mutex> lock(m_stopMutex);
    while (!m_stopping) {
        lock.unlock();
        try {
            m_accounts->removeExpired();
            m_outbox->removeOlderThan(m_limits.outboxDays);
        } catch (const std::exception &e) {
            Log::warning(std::string("housekeeping failed: ") + e.what());
        }
        lock.lock();
        m_stopWake.wait_for(lock, kHousekeepingInterval, [this] { return m_stopping; });
    }
}

void Service::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_stopping = true;
    }
    m_stopWake.notify_all();
    if (m_housekeeper.joinable())
        m_housekeeper.join();
    if (m_server)
        m_server->stop();
    if (m_listener.joinable())
        m_listener.join();
    // No request or housekeeping runs any more; the broker's replies must not reach
    // objects that are about to go.
    m_notifier.reset();
}

} // namespace ZorvelService
