#include "KeyStore.h"

#include "Codec.h"
#include "Database.h"
#include "Json.h"
#include "ServiceConstants.h"

#include <sodium.h>

namespace ZorvelService {

namespace {

constexpr std::size_t kWrappedBytes = 48;
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kVerifierBytes = 16;
constexpr std::size_t kPinHashBytes = 32;
// Prefixed to the verified message by the current wrapping construction, so that a
// verifier of the first one (keyed with an unsalted PIN hash) never matches.
constexpr char kVerifierDomain[] = "cindral verifier v2";

} // namespace

std::optional<KeyPair> KeyPair::fromDict(const nlohmann::json &dict, std::string *reason)
{
    if (!dict.is_object()) {
        *reason = "\"key_dict\" must be an object";
        return std::nullopt;
    }
    bool ok = true;
    KeyPair pair;
    pair.keyHash = Json::text(dict, "key_hash", ok);
    pair.cipherHash = Json::text(dict, "cipher_hash", ok);
    const std::string cipher = Json::text(dict, "cipher", ok);
    const std::int64_t keyTimestamp = Json::integer(dict, "key_timestamp", ok);
    const std::int64_t cipherTimestamp = Json::integer(dict, "cipher_timestamp", ok);
    const std::string version = Json::text(dict, "version", ok);
    const std::string platform = Json::text(dict, "platform", ok);
    if (!ok) {
        *reason = "a member of \"key_dict\" has the wrong type";
        return std::nullopt;
    }
    const auto wrapped = Codec::fromBase64(cipher);
    if (!Codec::isHashText(pair.keyHash, 64) || !Codec::isHex(pair.cipherHash, 2 * (kSaltBytes + kVerifierBytes))
        || !wrapped || wrapped->size() != kWrappedBytes || version.size() > kMaxShortText
        || platform.size() > kMaxShortText) {
        *reason = "\"key_dict\" is malformed";
        return std::nullopt;
    }
    pair.wrapped = *wrapped;
    pair.dict = {{"key_timestamp", keyTimestamp}, {"key_hash", pair.keyHash},
                 {"cipher", cipher},              {"cipher_timestamp", cipherTimestamp},
                 {"cipher_hash", pair.cipherHash}, {"version", version},
                 {"platform", platform}};
    return pair;
}

bool KeyPair::pinMatches(const std::string &lastPinHashBase64) const
{
    const auto pinHash = Codec::fromBase64(lastPinHashBase64);
    const auto saltAndVerifier = Codec::fromHex(cipherHash);
    if (!pinHash || pinHash->size() != kPinHashBytes || !saltAndVerifier
        || saltAndVerifier->size() != kSaltBytes + kVerifierBytes || wrapped.size() != kWrappedBytes)
        return false;
    const std::string message = kVerifierDomain + saltAndVerifier->substr(0, kSaltBytes) + wrapped;
    unsigned char verifier[kVerifierBytes];
    crypto_generichash(verifier, sizeof verifier, reinterpret_cast<const unsigned char *>(message.data()),
                       message.size(), reinterpret_cast<const unsigned char *>(pinHash->data()), pinHash->size());
    return sodium_memcmp(verifier, saltAndVerifier->data() + kSaltBytes, kVerifierBytes) == 0;
}

KeyStore::KeyStore(Database &db)
    : m_db(db)
{
}

std::optional<KeyPair> KeyStore::get(std::int64_t userId)
{
    auto lease = m_db.lease();
    SqlStatement select(lease.handle(), "SELECT key_dict FROM key_pairs WHERE user_id = ?1");
    select.bind(1, userId);
    if (!select.step())
        return std::nullopt;
    std::string reason;
    const auto dict = Json::parseObject(select.text(0), &reason);
    return dict ? KeyPair::fromDict(*dict, &reason) : std::nullopt;
}

bool KeyStore::put(std::int64_t userId, const KeyPair &pair)
{
    auto lease = m_db.lease();
    SqlConnection &db = lease.handle();
    Database::Transaction tx(db, Database::Transaction::Write);
    Database::lockUser(db, userId);
    SqlStatement select(db, "SELECT key_hash FROM key_pairs WHERE user_id = ?1");
    select.bind(1, userId);
    if (select.step() && select.text(0) != pair.keyHash)
        return false;
    write(db, userId, pair);
    tx.commit();
    return true;
}

void KeyStore::write(SqlConnection &db, std::int64_t userId, const KeyPair &pair)
{
    SqlStatement upsert(db, "INSERT INTO key_pairs(user_id, key_dict, key_hash, cipher_hash, cipher, updated) "
                            "VALUES (?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT (user_id) DO UPDATE SET "
                            "key_dict = excluded.key_dict, key_hash = excluded.key_hash, "
                            "cipher_hash = excluded.cipher_hash, cipher = excluded.cipher, updated = excluded.updated");
    upsert.bind(1, userId)
        .bind(2, pair.dict.dump())
        .bind(3, pair.keyHash)
        .bind(4, pair.cipherHash)
        .bind(5, Codec::toBase64(pair.wrapped))
        .bind(6, Codec::now())
        .run();
}

nlohmann::json KeyStore::summary(std::int64_t userId)
{
    auto lease = m_db.lease();
    SqlStatement select(lease.handle(), "SELECT key_hash, cipher_hash FROM key_pairs WHERE user_id = ?1");
    select.bind(1, userId);
    if (!select.step())
        return {{"key_hash", ""}, {"cipher_hash", ""}};
    return {{"key_hash", select.text(0)}, {"cipher_hash", select.text(1)}};
}

} // namespace ZorvelService
