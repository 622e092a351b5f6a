#include "Json.h"

#include "ServiceConstants.h"

#include <cmath>
#include <limits>

namespace ZorvelService::Json {

std::optional<json> parseObject(const std::string &body, std::string *reason)
{
    bool tooDeep = false;
    // The parser itself is iterative; the depth limit keeps later recursive walks
    // (dump, destruction) bounded.
    const json::parser_callback_t limitDepth = [&tooDeep](int depth, json::parse_event_t event, json &) {
        if ((event == json::parse_event_t::object_start || event == json::parse_event_t::array_start)
            && depth >= kMaxJsonDepth)
            tooDeep = true;
        return !tooDeep;
    };
    // The parser stops at a NUL byte as at the end of the input: whatever follows
    // would pass unseen.
    if (body.find('\0') != std::string::npos) {
        if (reason)
            *reason = "body holds a NUL byte";
        return std::nullopt;
    }
    json value = json::parse(body, limitDepth, false);
    if (tooDeep) {
        if (reason)
            *reason = "JSON nested too deeply";
        return std::nullopt;
    }
    if (value.is_discarded()) {
        if (reason)
            *reason = body.empty() ? "empty body, a JSON object was expected" : "body is not valid JSON";
        return std::nullopt;
    }
    if (!value.is_object()) {
        if (reason)
            *reason = "body is not a JSON object";
        return std::nullopt;
    }
    return value;
}

std::string text(const json &object, const char *name, bool &ok, const std::string &fallback)
{
    const auto it = object.find(name);
    if (it == object.end() || it->is_null())
        return fallback;
    if (!it->is_string()) {
        ok = false;
        return fallback;
    }
    return it->get<std::string>();
}

double number(const json &object, const char *name, bool &ok, double fallback)
{
    const auto it = object.find(name);
    if (it == object.end() || it->is_null())
        return fallback;
    if (!it->is_number() || !std::isfinite(it->get<double>())) {
        ok = false;
        return fallback;
    }
    return it->get<double>();
}

std::int64_t integer(const json &object, const char *name, bool &ok, std::int64_t fallback)
{
    const auto it = object.find(name);
    if (it == object.end() || it->is_null())
        return fallback;
    // 2^64-1 would read as -1.
    if (it->is_number_unsigned() && it->get<std::uint64_t>() > std::uint64_t(std::numeric_limits<std::int64_t>::max())) {
        ok = false;
        return fallback;
    }
    if (it->is_number_integer())
        return it->get<std::int64_t>();
    if (it->is_number_float()) {
        const double d = it->get<double>();
        if (std::isfinite(d) && std::trunc(d) == d && std::fabs(d) < 9.0e18)
            return static_cast<std::int64_t>(d);
    }
    ok = false;
    return fallback;
}

} // namespace ZorvelService::Json
