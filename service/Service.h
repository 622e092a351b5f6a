#pragma once

#include "ServiceConfig.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class SSLServer;
}

namespace ZorvelService {

class AccountApi;
class Accounts;
class BrokerAccounts;
class PasswordGate;
class RateLimiter;
class Database;
class EntryStore;
class FavouriteApi;
class FileApi;
class HistoryApi;
class KeyApi;
class KeyStore;
class Notifier;
class ObjectStore;
class Outbox;
class ServerKeys;
struct ApiContext;

// The whole service: data folder, certificates, stores, notifier and the HTTPS
// server with every route. start() returns once the port is bound, so a caller can
// connect at once; the server runs on its own threads until stop().
class Service {
public:
    explicit Service(ServiceOptions options);
    ~Service();
    Service(const Service &) = delete;
    Service &operator=(const Service &) = delete;

    bool start(std::string *error);
    void stop();

    int port() const { return m_port; }
    const std::string &publicUrl() const { return m_publicUrl; }
    const std::string &dataDir() const { return m_options.dataDir; }
    std::string caPath() const;
    bool brokerConnected() const;

private:
    void configureServer(const ServiceLimits &limits);
    void housekeeping();

    ServiceOptions m_options;
    ServiceLimits m_limits;
    int m_port = 0;
    std::string m_publicUrl;

    std::unique_ptr<Database> m_db;
    std::unique_ptr<ServerKeys> m_serverKeys;
    std::unique_ptr<ServiceConfig> m_config;
    std::unique_ptr<Accounts> m_accounts;
    std::unique_ptr<EntryStore> m_entries;
    std::unique_ptr<KeyStore> m_keys;
    std::unique_ptr<ObjectStore> m_objects;
    // The notifier's library threads call into m_broker (and through it m_accounts):
    // it goes first (reverse order of declaration, and in stop()).
    std::unique_ptr<BrokerAccounts> m_broker;
    std::unique_ptr<Notifier> m_notifier;
    std::unique_ptr<PasswordGate> m_passwordGate;
    std::unique_ptr<RateLimiter> m_rates;
    std::unique_ptr<Outbox> m_outbox;
    std::unique_ptr<ApiContext> m_context;
    std::unique_ptr<AccountApi> m_accountApi;
    std::unique_ptr<HistoryApi> m_historyApi;
    std::unique_ptr<FavouriteApi> m_favouriteApi;
    std::unique_ptr<FileApi> m_fileApi;
    std::unique_ptr<KeyApi> m_keyApi;
    std::unique_ptr<httplib::SSLServer> m_server;
    std::thread m_listener;
    std::atomic<bool> m_listenEnded {false};
    std::thread m_housekeeper;
    std::mutex m_stopMutex;
    std::condition_variable m_stopWake;
    bool m_stopping = false;
};

} // namespace ZorvelService
