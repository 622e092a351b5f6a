#pragma once

#include <string>

// One line per event on standard error: local time, level, text. Callers never pass
// secrets (passwords, tokens, keys) or query strings, which carry the user token.
namespace ZorvelService::Log {

void info(const std::string &text);
void warning(const std::string &text);
void critical(const std::string &text);

} // namespace ZorvelService::Log
