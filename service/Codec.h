#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Encodings, digests and random values, all on libsodium and OpenSSL.
namespace ZorvelService::Codec {

std::string toBase64(const std::string &bytes);
// Standard alphabet with padding; nullopt for anything else.
std::optional<std::string> fromBase64(const std::string &text);
std::string toHex(const std::string &bytes);
std::optional<std::string> fromHex(const std::string &text);
std::string randomBytes(std::size_t count);
// 32 random bytes as 64 lower-case hex digits: user tokens and reset tokens.
std::string newToken();
// Stored in place of a token, so that a copy of the database holds no usable token.
std::string tokenDigest(const std::string &token);
std::string md5Hex(const std::string &bytes);
std::string hmacSha256(const std::string &key, const std::string &message);
bool equalConstantTime(const std::string &a, const std::string &b);

// 32 lower-case hexadecimal digits: the only accepted form of a file hash.
bool isFileHash(const std::string &text);
bool isLowerHex(const std::string &text, std::size_t length);
bool isHex(const std::string &text, std::size_t length);
// Key and cipher hashes: short texts of letters, digits and "+/=_-".
bool isHashText(const std::string &text, std::size_t maxLength);
std::optional<std::int64_t> parseInt(const std::string &text);

std::int64_t now();

} // namespace ZorvelService::Codec
