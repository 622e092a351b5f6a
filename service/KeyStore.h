#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>



namespace ZorvelService {

class Database;
class SqlConnection;

// A user's key pair as the client hands it over: the content key wrapped under the
// PIN ("cipher", 48 bytes) with its hashes. The service never sees the key itself.
struct KeyPair {
    nlohmann::json dict; // the key dictionary as stored and returned
    std::string keyHash;
    std::string cipherHash; // hex(salt 16 bytes) + hex(PIN verifier 16 bytes)
    std::string wrapped;    // the 48 decoded bytes of "cipher"

    static std::optional<KeyPair> fromDict(const nlohmann::json &dict, std::string *reason);
    // True when lastPinHash (Base64 of the 32-byte PIN proof P, derived from the PIN
    // and this wrap's salt) reproduces the verifier: BLAKE2b-128 keyed with P over
    // "cindral verifier v2" ‖ salt ‖ wrapped bytes. One PIN guess thus costs the
    // client's slow hash for this one record.
    bool pinMatches(const std::string &lastPinHashBase64) const;
};

class KeyStore {
public:
    explicit KeyStore(Database &db);

    std::optional<KeyPair> get(std::int64_t userId);
    // Stores the pair unless the user holds a pair with another key hash (false then):
    // one transaction with the user's row locked, so that two devices activating
    // different keys at once through different nodes cannot both win.
    bool put(std::int64_t userId, const KeyPair &pair);
    static void write(SqlConnection &db, std::int64_t userId, const KeyPair &pair);
    // The "cipher" member of pull, push and favourite replies: the stored pair's
    // hashes, empty texts when the user has none.
    nlohmann::json summary(std::int64_t userId);

private:
    Database &m_db;
};

} // namespace ZorvelService
