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
    std::string publicUrl; // empty: https://<host>:<port>
    // Where several nodes share state; empty: inside the data folder.
    std::string database;         // a postgresql:// URL or an SQLite file
    std::string objectsDir;       // entry files
    std::string objectSecretPath; // signs upload policies and download links
    std::string boxKeyPath;       // the key pair clients seal password hashes to
    std::string tlsCertPath;      // certificate chain of a public CA; empty: the service's own CA
    std::string tlsKeyPath;
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

private:
    nlohmann::json read() const;

    std::string m_path;
};

} // namespace ZorvelService
