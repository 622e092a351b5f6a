#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ZorvelService {

// The object store: one file per entry file under <data>/objects/<user id>/<file id>,
// written through a temporary file and a rename. Object keys have the form
// "<user id>/<file id>"; a key is parsed into those two numbers before anything
// touches the disk, so no text from outside ever becomes part of a path.
//
// Uploads are authorised by a signed policy (Base64 JSON, HMAC-SHA256 with the
// service's object secret); downloads by short-lived signed URLs.
class ObjectStore {
public:
    ObjectStore(std::string folder, std::string secret);

    struct Location {
        std::int64_t userId = 0;
        std::int64_t fileId = 0;
    };
    static std::string keyFor(const Location &location);
    static std::optional<Location> parseKey(const std::string &key);

    bool write(const Location &location, const std::string &bytes);
    // Unfinished uploads (over an hour old) left by a stop in the middle of a write;
    // called at start.
    void removeLeftovers();
    std::optional<std::string> read(const Location &location) const;
    void remove(const Location &location);

    struct Policy {
        std::string key;
        std::int64_t userId = 0;
        std::int64_t fileId = 0;
        std::int64_t historyId = 0;
        std::string fileHash;
        std::string deviceToken;
        std::int64_t expires = 0;
        std::int64_t maxBytes = 0;
    };
    std::string encodePolicy(const Policy &policy) const;
    // Base64 of HMAC-SHA256(secret, policy text).
    std::string signPolicy(const std::string &encodedPolicy) const;
    enum class PolicyError { None, Malformed, BadSignature, Expired };
    std::optional<Policy> verifyPolicy(const std::string &encodedPolicy, const std::string &signature,
                                       PolicyError *error) const;

    // Path and query of a signed download URL, valid for kDownloadUrlSeconds.
    std::string signedObjectPath(const Location &location) const;
    bool verifyObjectSignature(const std::string &key, const std::string &expires, const std::string &signature) const;

private:
    std::string pathFor(const Location &location) const;
    std::string urlSignature(const std::string &key, std::int64_t expires) const;

    std::string m_folder;
    std::string m_secret;
};

} // namespace ZorvelService
