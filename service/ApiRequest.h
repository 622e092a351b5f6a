#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

namespace ZorvelService {

class Accounts;
class BrokerAccounts;
class RateLimiter;
struct ServiceLimits;
class EntryStore;
class KeyStore;
class Notifier;
class ObjectStore;
class Outbox;
class ServerKeys;
class ServiceConfig;

// What every API handler may use.
struct ApiContext {
    Accounts &accounts;
    EntryStore &entries;
    KeyStore &keys;
    ObjectStore &objects;
    Notifier &notifier;
    Outbox &outbox;
    ServerKeys &serverKeys;
    ServiceConfig &config;
    std::string publicUrl;
    BrokerAccounts &broker;
    RateLimiter &rates;
    const ServiceLimits &limits;
};

// One API request: its query parameters, its JSON body and the reply. Replies are
// JSON objects with "code" (0 = success) and, on failure, "msg".
class ApiRequest {
public:
    ApiRequest(const httplib::Request &request, httplib::Response &response);

    // A query parameter, percent-decoded; "+" stays "+" because clients send e-mail
    // addresses unencoded.
    std::string param(const std::string &name) const;
    bool hasParam(const std::string &name) const;
    // The device that made the request; empty when absent or malformed.
    std::string deviceToken() const;

    // The body as a JSON object; on failure the reply is already set (code -1).
    std::optional<nlohmann::json> jsonBody();
    // The signed-in user; on failure the reply is HTTP 401.
    std::optional<std::int64_t> authenticate(Accounts &accounts);
    // False (and the reply HTTP 429) once `key` was used `limit` times within `windowSeconds`.
    bool withinRate(RateLimiter &rates, const std::string &key, int limit, std::int64_t windowSeconds);

    void reply(const nlohmann::json &body, int status = 200);
    void fail(int code, const std::string &message, int status = 200);
    void redirect(const std::string &url);

    const httplib::Request &request() const { return m_request; }
    httplib::Response &response() { return m_response; }

private:
    const httplib::Request &m_request;
    httplib::Response &m_response;
    std::multimap<std::string, std::string> m_query;
};

} // namespace ZorvelService
