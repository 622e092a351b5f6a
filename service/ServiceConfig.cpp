#include "ServiceConfig.h"

#include "Codec.h"
#include "Json.h"
#include "Log.h"
#include "ServiceConstants.h"

#include <fstream>
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
            {"token_days", kDefaultTokenDays}};
}

} // namespace

const char *ServiceConfig::usage()
{
    return "usage: zorvel-service --data <folder> [--listen <host>:<port>] [--port <port>]\n"
           "                      [--broker tcp://<host>:<port>] [--public-url https://<host>:<port>]\n"
           "  --listen      address to listen on (default 127.0.0.1:8443); port 0 picks a free port\n"
           "  --port        only the port (0 = any free port)\n"
           "  --data        folder for the database, objects, keys, certificates and outbox\n"
           "  --broker      MQTT broker for notifications (default tcp://127.0.0.1:1883)\n"
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

} // namespace ZorvelService
