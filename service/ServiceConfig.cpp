#include "ServiceConfig.h"

#include "Codec.h"
#include "Json.h"
#include "Log.h"
#include "ServiceConstants.h"

#include <fstream>
#include <limits>
#include <type_traits>
#include <iterator>

namespace ZorvelService {

namespace {

bool splitHostPort(const std::string &text, std::string *host, int *port)
{
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    const auto number = Codec::parseInt(text.substr(colon + 1));
    if (!number || *number < 0 || *number > 65535)
        return false;
    *host = text.substr(0, colon);
    *port = static_cast<int>(*number);
    return true;
}

nlohmann::json defaults(const std::string &publicUrl)
{
    return {{"version", kDefaultVersion},
            {"download_url", publicUrl + "/download/"},
            {"update_info", ""},
            {"token_days", kDefaultTokenDays},
            {"limits", ServiceLimits().toJson()}};
}

// The members of "limits" in config.json and where they go.
template <typename Visit>
void eachLimit(ServiceLimits &l, Visit visit)
{
    visit("password_workers", l.passwordWorkers);
    visit("password_queue", l.passwordQueue);
    visit("connections", l.connections);
    visit("read_timeout_seconds", l.readTimeoutSeconds);
    visit("write_timeout_seconds", l.writeTimeoutSeconds);
    visit("keep_alive_seconds", l.keepAliveSeconds);
    visit("keep_alive_requests", l.keepAliveRequests);
    visit("header_lines", l.headerLines);
    visit("register_per_address_per_minute", l.registerPerAddress);
    visit("login_per_address_per_minute", l.loginPerAddress);
    visit("login_per_account_per_minute", l.loginPerAccount);
    visit("reset_mail_per_address_per_hour", l.resetMailPerAddress);
    visit("reset_mail_per_account_per_hour", l.resetMailPerAccount);
    visit("reset_page_per_address_per_minute", l.resetPagePerAddress);
    visit("entries_per_user", l.entriesPerUser);
    visit("bytes_per_user", l.bytesPerUser);
    visit("tokens_per_user", l.tokensPerUser);
    visit("outbox_days", l.outboxDays);
}

} // namespace

ServiceLimits ServiceLimits::fromJson(const nlohmann::json &limits)
{
    ServiceLimits l;
    if (!limits.is_object())
        return l;
    eachLimit(l, [&limits](const char *name, auto &value) {
        const auto it = limits.find(name);
        if (it == limits.end())
            return;
        using Value = std::decay_t<decltype(value)>;
        // password_workers 0: one per core; password_queue 0: no waiting at all.
        const std::string member = name;
        const std::int64_t least = member == "password_workers" || member == "password_queue" ? 0 : 1;
        if (it->is_number_integer() && it->template get<std::int64_t>() >= least
            && it->template get<std::int64_t>() <= std::numeric_limits<Value>::max())
            value = static_cast<Value>(it->template get<std::int64_t>());
        else
            Log::warning(std::string("config.json: limits.") + name + " must be a positive integer; the default holds");
    });
    return l;
}

nlohmann::json ServiceLimits::toJson() const
{
    nlohmann::json out = nlohmann::json::object();
    ServiceLimits copy = *this;
    eachLimit(copy, [&out](const char *name, auto &value) { out[name] = value; });
    return out;
}

const char *ServiceConfig::usage()
{
    return "usage: zorvel-service --data <folder> [--listen <host>:<port>] [--port <port>]\n"
           "                      [--broker tcp://<host>:<port>] [--broker-account <file>]\n"
           "                      [--limits <json>]\n"
           "                      [--public-url https://<host>:<port>]\n"
           "  --listen      address to listen on (default 127.0.0.1:8443); port 0 picks a free port\n"
           "  --port        only the port (0 = any free port)\n"
           "  --data        folder for the database, objects, keys, certificates and outbox\n"
           "  --broker      MQTT broker for notifications (default tcp://127.0.0.1:1883)\n"
           "  --broker-account  file with the service's broker user name and password (two lines)\n"
           "  --limits      JSON object overriding members of \"limits\" in config.json\n"
           "  --public-url  base of upload hosts and download redirects (default https://<listen>)\n"
           "  --database    postgresql://... URL of a database shared by several nodes, or an SQLite file\n"
           "                (default <data>/service.db)\n"
           "  --objects     folder of entry files, e.g. a mount all nodes see (default <data>/objects)\n"
           "  --object-secret, --box-key  files of the secrets all nodes must share\n"
           "                (default <data>/object-secret, <data>/box-key; made when missing)\n"
           "  --tls-cert, --tls-key  certificate chain and key to serve instead of ones signed by\n"
           "                the service's own CA (both or neither)\n";
}

std::optional<ServiceOptions> ServiceConfig::parseArguments(int argc, char **argv, std::string *error)
{
    ServiceOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--help" || flag == "-h") {
            *error = "";
            return std::nullopt;
        }
        if (i + 1 >= argc) {
            *error = "missing value after " + flag;
            return std::nullopt;
        }
        const std::string value = argv[++i];
        if (flag == "--listen") {
            if (!splitHostPort(value, &options.host, &options.port)) {
                *error = "--listen expects <host>:<port>";
                return std::nullopt;
            }
        } else if (flag == "--port") {
            const auto port = Codec::parseInt(value);
            if (!port || *port < 0 || *port > 65535) {
                *error = "--port expects a number from 0 to 65535";
                return std::nullopt;
            }
            options.port = static_cast<int>(*port);
        } else if (flag == "--data") {
            options.dataDir = value;
        } else if (flag == "--broker") {
            options.broker = value;
        } else if (flag == "--broker-account") {
            std::ifstream in(value);
            std::string user;
            std::string password;
            if (!std::getline(in, user) || !std::getline(in, password) || user.empty() || password.empty()) {
                *error = "--broker-account: " + value + " must hold a user name and a password on two lines";
                return std::nullopt;
            }
            options.brokerUser = user;
            options.brokerPassword = password;
        } else if (flag == "--limits") {
            std::string reason;
            const auto parsed = Json::parseObject(value, &reason);
            if (!parsed) {
                *error = "--limits expects a JSON object: " + reason;
                return std::nullopt;
            }
            options.limitOverrides = *parsed;
        } else if (flag == "--public-url") {
            options.publicUrl = value;
            while (!options.publicUrl.empty() && options.publicUrl.back() == '/')
                options.publicUrl.pop_back();
        } else if (flag == "--database") {
            options.database = value;
        } else if (flag == "--objects") {
            options.objectsDir = value;
        } else if (flag == "--object-secret") {
            options.objectSecretPath = value;
        } else if (flag == "--box-key") {
            options.boxKeyPath = value;
        } else if (flag == "--tls-cert") {
            options.tlsCertPath = value;
        } else if (flag == "--tls-key") {
            options.tlsKeyPath = value;
        } else {
            *error = "unknown option " + flag;
            return std::nullopt;
        }
    }
    if (options.dataDir.empty()) {
        *error = "--data is required";
        return std::nullopt;
    }
    if (options.tlsCertPath.empty() != options.tlsKeyPath.empty()) {
        *error = "--tls-cert and --tls-key go together";
        return std::nullopt;
    }
    return options;
}

ServiceConfig::ServiceConfig(std::string dataDir)
    : m_path(std::move(dataDir) + "/config.json")
{
}

void ServiceConfig::ensureFile(const std::string &publicUrl) const
{
    if (std::ifstream(m_path))
        return;
    std::ofstream out(m_path);
    out << defaults(publicUrl).dump(2) << "\n";
}

nlohmann::json ServiceConfig::read() const
{
    std::ifstream in(m_path);
    if (!in)
        return nlohmann::json::object();
    const std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string reason;
    auto parsed = Json::parseObject(body, &reason);
    if (!parsed) {
        Log::warning(m_path + ": " + reason + "; using the defaults");
        return nlohmann::json::object();
    }
    return *parsed;
}

nlohmann::json ServiceConfig::versionInfo(const std::string &publicUrl) const
{
    const nlohmann::json config = read();
    nlohmann::json info = defaults(publicUrl);
    info.erase("token_days");
    info.erase("limits");
    for (const char *name : {"version", "download_url", "update_info"}) {
        const auto it = config.find(name);
        if (it != config.end() && it->is_string())
            info[name] = *it;
    }
    return info;
}

std::int64_t ServiceConfig::tokenDays() const
{
    const nlohmann::json config = read();
    const auto it = config.find("token_days");
    if (it != config.end() && it->is_number_integer() && it->get<std::int64_t>() > 0)
        return it->get<std::int64_t>();
    return kDefaultTokenDays;
}

ServiceLimits ServiceConfig::limits(const nlohmann::json &overrides) const
{
    const nlohmann::json config = read();
    const auto it = config.find("limits");
    nlohmann::json merged = it != config.end() && it->is_object() ? *it : nlohmann::json::object();
    merged.update(overrides);
    return ServiceLimits::fromJson(merged);
}

} // namespace ZorvelService
