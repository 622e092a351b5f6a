#include "Codec.h"

#include <openssl/evp.h>
#include <sodium.h>

#include <charconv>
#include <ctime>
#include <vector>

namespace ZorvelService::Codec {

std::string toBase64(const std::string &bytes)
{
    const int variant = sodium_base64_VARIANT_ORIGINAL;
    std::vector<char> out(sodium_base64_ENCODED_LEN(bytes.size(), variant));
    sodium_bin2base64(out.data(), out.size(), reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                      variant);
    return std::string(out.data());
}

std::optional<std::string> fromBase64(const std::string &text)
{
    std::string out(text.size() / 4 * 3 + 3, '\0');
    size_t length = 0;
    const char *end = nullptr;
    if (sodium_base642bin(reinterpret_cast<unsigned char *>(out.data()), out.size(), text.data(), text.size(), nullptr,
                          &length, &end, sodium_base64_VARIANT_ORIGINAL)
            != 0
        || end != text.data() + text.size())
        return std::nullopt;
    out.resize(length);
    return out;
}

std::string toHex(const std::string &bytes)
{
    std::vector<char> out(bytes.size() * 2 + 1);
    sodium_bin2hex(out.data(), out.size(), reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
    return std::string(out.data(), bytes.size() * 2);
}

std::optional<std::string> fromHex(const std::string &text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::string out(text.size() / 2, '\0');
    size_t length = 0;
    const char *end = nullptr;
    if (sodium_hex2bin(reinterpret_cast<unsigned char *>(out.data()), out.size(), text.data(), text.size(), nullptr,
                       &length, &end)
            != 0
        || end != text.data() + text.size() || length != out.size())
        return std::nullopt;
    return out;
}

std::string randomBytes(std::size_t count)
{
    std::string out(count, '\0');
    randombytes_buf(out.data(), count);
    return out;
}

std::string newToken()
{
    return toHex(randomBytes(32));
}

std::string tokenDigest(const std::string &token)
{
    unsigned char digest[32];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char *>(token.data()), token.size(),
                       nullptr, 0);
    return toHex(std::string(reinterpret_cast<const char *>(digest), sizeof digest));
}

std::string md5Hex(const std::string &bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    return toHex(std::string(reinterpret_cast<const char *>(digest), length));
}

std::string hmacSha256(const std::string &key, const std::string &message)
{
    unsigned char mac[crypto_auth_hmacsha256_BYTES];
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, reinterpret_cast<const unsigned char *>(key.data()), key.size());
    crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char *>(message.data()), message.size());
    crypto_auth_hmacsha256_final(&state, mac);
    return std::string(reinterpret_cast<const char *>(mac), sizeof mac);
}

bool equalConstantTime(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

bool isLowerHex(const std::string &text, std::size_t length)
{
    if (text.size() != length)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

bool isHex(const std::string &text, std::size_t length)
{
    if (text.size() != length)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

bool isFileHash(const std::string &text)
{
    return isLowerHex(text, 32);
}

bool isHashText(const std::string &text, std::size_t maxLength)
{
    if (text.empty() || text.size() > maxLength)
        return false;
    for (const char c : text) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '+'
            || c == '/' || c == '=' || c == '_' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

std::optional<std::int64_t> parseInt(const std::string &text)
{
    std::int64_t value = 0;
    const char *end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end)
        return std::nullopt;
    return value;
}

std::int64_t now()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

} // namespace ZorvelService::Codec
