#include "ApiRequest.h"

#include "Accounts.h"
#include "Json.h"
#include "RateLimiter.h"
#include "ServiceConstants.h"

#include <httplib.h>

namespace ZorvelService {

ApiRequest::ApiRequest(const httplib::Request &request, httplib::Response &response)
    : m_request(request)
    , m_response(response)
{
    const auto question = request.target.find('?');
    if (question == std::string::npos)
        return;
    const std::string query = request.target.substr(question + 1);
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find('&', start);
        if (end == std::string::npos)
            end = query.size();
        const std::string pair = query.substr(start, end - start);
        if (!pair.empty()) {
            const auto equals = pair.find('=');
            const std::string name = pair.substr(0, equals);
            const std::string value = equals == std::string::npos ? std::string() : pair.substr(equals + 1);
            m_query.emplace(httplib::detail::decode_url(name, false), httplib::detail::decode_url(value, false));
        }
        start = end + 1;
    }
}

std::string ApiRequest::param(const std::string &name) const
{
    const auto it = m_query.find(name);
    return it == m_query.end() ? std::string() : it->second;
}

bool ApiRequest::hasParam(const std::string &name) const
{
    return m_query.count(name) > 0;
}

std::string ApiRequest::deviceToken() const
{
    const std::string token = param("device_token");
    if (token.size() > 128)
        return {};
    for (const char c : token) {
        if (c < 0x21 || c > 0x7e)
            return {};
    }
    return token;
}

std::optional<nlohmann::json> ApiRequest::jsonBody()
{
    std::string reason;
    auto body = Json::parseObject(m_request.body, &reason);
    if (!body)
        fail(Code::BadRequest, reason);
    return body;
}

std::optional<std::int64_t> ApiRequest::authenticate(Accounts &accounts)
{
    auto user = accounts.userForToken(param("user_token"));
    if (!user)
        fail(401, "unknown or expired user token", 401);
    return user;
}

bool ApiRequest::withinRate(RateLimiter &rates, const std::string &key, int limit, std::int64_t windowSeconds)
{
    if (rates.allow(key, limit, windowSeconds))
        return true;
    fail(kRateStatus, "too many requests; try again later", kRateStatus);
    return false;
}

void ApiRequest::reply(const nlohmann::json &body, int status)
{
    m_response.status = status;
    // Texts from clients may hold broken UTF-8; they go back as stored, replaced
    // where invalid, instead of failing the whole reply.
    m_response.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), "application/json");
}

void ApiRequest::fail(int code, const std::string &message, int status)
{
    reply({{"code", code}, {"msg", message}}, status);
}

void ApiRequest::redirect(const std::string &url)
{
    m_response.set_redirect(url, 302);
}

} // namespace ZorvelService
