#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace ZorvelService::Json {

using nlohmann::json;

// The body as a JSON object, or nullopt with a reason for anything else: broken
// syntax, another top-level type, nesting deeper than kMaxJsonDepth.
std::optional<json> parseObject(const std::string &body, std::string *reason);

// Typed member access that tolerates a missing member (fallback) but reports a
// member of the wrong type through ok=false.
std::string text(const json &object, const char *name, bool &ok, const std::string &fallback = {});
double number(const json &object, const char *name, bool &ok, double fallback = 0);
std::int64_t integer(const json &object, const char *name, bool &ok, std::int64_t fallback = 0);

} // namespace ZorvelService::Json
