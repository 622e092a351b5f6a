#include "ObjectStore.h"

#include "Codec.h"
#include "Json.h"
#include "Log.h"
#include "ServiceConstants.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

namespace ZorvelService {

ObjectStore::ObjectStore(std::string folder, std::string secret)
    : m_folder(std::move(folder))
    , m_secret(std::move(secret))
{
    mkdir(m_folder.c_str(), 0700);
}

void ObjectStore::removeLeftovers()
{
    namespace fs = std::filesystem;
    std::error_code failure;
    int removed = 0;
    for (const auto &file : fs::recursive_directory_iterator(m_folder, failure)) {
        std::error_code ignored;
        const std::string name = file.path().filename().string();
        // Another node sharing the folder may be writing one right now: only old ones go.
        if (file.is_regular_file(ignored) && name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0
            && file.last_write_time(ignored) < fs::file_time_type::clock::now() - std::chrono::hours(1)
            && fs::remove(file.path(), ignored))
            ++removed;
    }
    if (removed > 0)
        Log::info("removed " + std::to_string(removed) + " unfinished uploads");
}

std::string ObjectStore::keyFor(const Location &location)
{
    return std::to_string(location.userId) + "/" + std::to_string(location.fileId);
}

std::optional<ObjectStore::Location> ObjectStore::parseKey(const std::string &key)
{
    static const std::regex pattern("^([1-9][0-9]{0,15})/([1-9][0-9]{0,15})$");
    std::smatch match;
    if (key.size() > 40 || !std::regex_match(key, match, pattern))
        return std::nullopt;
    return Location {*Codec::parseInt(match[1].str()), *Codec::parseInt(match[2].str())};
}

std::string ObjectStore::pathFor(const Location &location) const
{
    return m_folder + "/" + std::to_string(location.userId) + "/" + std::to_string(location.fileId);
}

bool ObjectStore::write(const Location &location, const std::string &bytes)
{
    mkdir((m_folder + "/" + std::to_string(location.userId)).c_str(), 0700);
    const std::string path = pathFor(location);
    const std::string temp = path + "." + Codec::toHex(Codec::randomBytes(6)) + ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::remove(temp.c_str());
            Log::warning("cannot write object " + keyFor(location));
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        Log::warning("cannot store object " + keyFor(location));
        return false;
    }
    return true;
}

std::optional<std::string> ObjectStore::read(const Location &location) const
{
    std::ifstream in(pathFor(location), std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ObjectStore::remove(const Location &location)
{
    std::remove(pathFor(location).c_str());
}

std::string ObjectStore::encodePolicy(const Policy &policy) const
{
    const nlohmann::json text = {{"expiration", policy.expires},
                                 {"key", policy.key},
                                 {"user_id", policy.userId},
                                 {"file_id", policy.fileId},
                                 {"history_id", policy.historyId},
                                 {"file_hash", policy.fileHash},
                                 {"device_token", policy.deviceToken},
                                 {"conditions", {{"content-length-range", 0, policy.maxBytes}}}};
    return Codec::toBase64(text.dump());
}

std::string ObjectStore::signPolicy(const std::string &encodedPolicy) const
{
    return Codec::toBase64(Codec::hmacSha256(m_secret, encodedPolicy));
}

std::optional<ObjectStore::Policy> ObjectStore::verifyPolicy(const std::string &encodedPolicy,
                                                             const std::string &signature, PolicyError *error) const
{
    const auto given = Codec::fromBase64(signature);
    if (!given || !Codec::equalConstantTime(*given, Codec::hmacSha256(m_secret, encodedPolicy))) {
        *error = PolicyError::BadSignature;
        return std::nullopt;
    }
    // Signed by us, so well-formed unless the secret leaked; checked all the same.
    *error = PolicyError::Malformed;
    const auto decoded = Codec::fromBase64(encodedPolicy);
    std::string reason;
    const auto text = decoded ? Json::parseObject(*decoded, &reason) : std::nullopt;
    if (!text)
        return std::nullopt;
    bool ok = true;
    Policy policy;
    policy.expires = Json::integer(*text, "expiration", ok);
    policy.key = Json::text(*text, "key", ok);
    policy.userId = Json::integer(*text, "user_id", ok);
    policy.fileId = Json::integer(*text, "file_id", ok);
    policy.historyId = Json::integer(*text, "history_id", ok);
    policy.fileHash = Json::text(*text, "file_hash", ok);
    policy.deviceToken = Json::text(*text, "device_token", ok);
    policy.maxBytes = kMaxObjectBytes;
    const auto conditions = text->find("conditions");
    if (conditions != text->end() && conditions->is_array()) {
        for (const auto &condition : *conditions) {
            if (condition.is_array() && condition.size() == 3 && condition[0] == "content-length-range"
                && condition[2].is_number_integer())
                policy.maxBytes = std::min<std::int64_t>(policy.maxBytes, condition[2].get<std::int64_t>());
        }
    }
    if (!ok || !parseKey(policy.key))
        return std::nullopt;
    if (policy.expires < Codec::now()) {
        *error = PolicyError::Expired;
        return std::nullopt;
    }
    *error = PolicyError::None;
    return policy;
}

std::string ObjectStore::urlSignature(const std::string &key, std::int64_t expires) const
{
    return Codec::toHex(Codec::hmacSha256(m_secret, "GET\n" + key + "\n" + std::to_string(expires)));
}

std::string ObjectStore::signedObjectPath(const Location &location) const
{
    const std::string key = keyFor(location);
    const std::int64_t expires = Codec::now() + kDownloadUrlSeconds;
    return "/oss/object/" + key + "?expires=" + std::to_string(expires) + "&signature=" + urlSignature(key, expires);
}

bool ObjectStore::verifyObjectSignature(const std::string &key, const std::string &expires,
                                        const std::string &signature) const
{
    const auto when = Codec::parseInt(expires);
    if (!when || *when < Codec::now() || !parseKey(key))
        return false;
    return Codec::equalConstantTime(signature, urlSignature(key, *when));
}

} // namespace ZorvelService
