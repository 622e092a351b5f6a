#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace ZorvelService {

struct ServiceOptions {
    std::string host = "127.0.0.1";
    int port = 8443; // 0 picks a free port
    std::string dataDir;
    std::string broker = "tcp://127.0.0.1:1883";
    // The service's own broker account; the two lines of --broker-account <file>.
    std::string brokerUser = "pubclient";
    std::string brokerPassword = "5d2a9e41";
    std::string publicUrl; // empty: https://<host>:<port>
    // --limits '{...}': members that override config.json's "limits".
    nlohmann::json limitOverrides = nlohmann::json::object();
    // Where several nodes share state; empty: inside the data folder.
    std::string database;         // a postgresql:// URL or an SQLite file
    std::string objectsDir;       // entry files
    std::string objectSecretPath; // signs upload policies and download links
    std::string boxKeyPath;       // the key pair clients seal password hashes to
    std::string tlsCertPath;      // certificate chain of a public CA; empty: the service's own CA
    std::string tlsKeyPath;
};

// What the service allows a client; "limits" in config.json, read at start. Each
// member may be left out (the default holds) or set to a positive integer.
struct ServiceLimits {
    int passwordWorkers = 0;       // Argon2id hashes at once; 0: one per core
    int passwordQueue = 32;        // waiting for one; beyond: HTTP 503
    int connections = 256;         // connections served at once (one thread each)
    int readTimeoutSeconds = 10;   // silence while a request (or TLS handshake) is read
    int writeTimeoutSeconds = 10;
    int keepAliveSeconds = 5;      // an idle kept-alive connection is closed after this
    int keepAliveRequests = 1000;  // requests per connection
    int headerLines = 100;
    int registerPerAddress = 5;    // per minute
    int loginPerAddress = 30;      // per minute
    int loginPerAccount = 10;      // per minute
    int resetMailPerAddress = 5;   // forget_pwd/, per hour
    int resetMailPerAccount = 3;   // per hour
    int resetPagePerAddress = 10;  // POST /account/reset, per minute
    int entriesPerUser = 50000;
    std::int64_t bytesPerUser = 2LL * 1024 * 1024 * 1024; // content and files
    int tokensPerUser = 20;        // the oldest tokens end first
    int outboxDays = 2;            // mails older than this are removed

    static ServiceLimits fromJson(const nlohmann::json &limits);
    nlohmann::json toJson() const;
};

// Command-line flags and the small JSON configuration in the data folder
// (config.json, written with its defaults on first run).
class ServiceConfig {
public:
    static std::optional<ServiceOptions> parseArguments(int argc, char **argv, std::string *error);
    static const char *usage();

    explicit ServiceConfig(std::string dataDir);

    // Writes config.json with defaults unless it exists.
    void ensureFile(const std::string &publicUrl) const;
    // {"version", "download_url", "update_info"}; read on every call so that an edit
    // takes effect without a restart. Missing or broken members fall back to defaults.
    nlohmann::json versionInfo(const std::string &publicUrl) const;
    std::int64_t tokenDays() const;
    ServiceLimits limits(const nlohmann::json &overrides = nlohmann::json::object()) const;

private:
    nlohmann::json read() const;

    std::string m_path;
};

} // namespace ZorvelService
