#include "Accounts.h"

#include "Codec.h"
#include "Database.h"
#include "Log.h"
#include "PasswordGate.h"
#include "ServiceConstants.h"

#include <sodium.h>

#include <regex>

namespace ZorvelService {

std::string Accounts::makeVerifier(const std::string &passwordMd5)
{
    PasswordGate::Turn turn(m_gate);
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, passwordMd5.data(), passwordMd5.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE)
        != 0)
        throw DatabaseError("out of memory while hashing a password");
    return out;
}

bool Accounts::matchesVerifier(const std::string &verifier, const std::string &passwordMd5)
{
    PasswordGate::Turn turn(m_gate);
    return crypto_pwhash_str_verify(verifier.c_str(), passwordMd5.data(), passwordMd5.size()) == 0;
}

Accounts::Accounts(Database &db, std::int64_t tokenDays, PasswordGate &gate, int tokensPerUser)
    : m_db(db)
    , m_tokenSeconds(tokenDays * 24 * 60 * 60)
    , m_gate(gate)
    , m_tokensPerUser(tokensPerUser)
{
}

void Accounts::ended(const std::vector<std::string> &digests)
{
    if (!digests.empty() && tokensEnded)
        tokensEnded(digests);
}

bool Accounts::isEmail(const std::string &text)
{
    static const std::regex pattern("^[a-zA-Z0-9_.+-]+@[a-zA-Z0-9.-]+\\.[a-zA-Z0-9.-]{2,5}$");
    return text.size() <= 254 && std::regex_match(text, pattern);
}

bool Accounts::isPasswordHash(const std::string &text)
{
    return Codec::isLowerHex(text, 32);
}

std::string Accounts::issueToken(std::int64_t userId)
{
    const std::string token = Codec::newToken();
    const std::string digest = Codec::tokenDigest(token);
    std::vector<std::string> dropped;
    {
        auto lease = m_db.lease();
        SqlConnection &db = lease.handle();
        Database::Transaction tx(db, Database::Transaction::Write);
        SqlStatement insert(db, "INSERT INTO tokens(digest, user_id, expires) VALUES (?1, ?2, ?3)");
        insert.bind(1, digest).bind(2, userId).bind(3, Codec::now() + m_tokenSeconds).run();
        // Tokens are issued with the same lifetime, so the earliest expiry is the oldest.
        SqlStatement newestFirst(db, "SELECT digest FROM tokens WHERE user_id = ?1 ORDER BY expires DESC");
        newestFirst.bind(1, userId);
        for (int kept = 0; newestFirst.step();) {
            if (++kept > m_tokensPerUser)
                dropped.push_back(newestFirst.text(0));
        }
        for (const std::string &d : dropped)
            SqlStatement(db, "DELETE FROM tokens WHERE digest = ?1").bind(1, d).run();
        tx.commit();
    }
    ended(dropped);
    if (tokenIssued)
        tokenIssued(userId, digest);
    return token;
}

std::optional<Accounts::Session> Accounts::registerUser(const std::string &email, const std::string &passwordMd5)
{
    const std::string verifier = makeVerifier(passwordMd5);
    std::int64_t userId = 0;
    {
        auto lease = m_db.lease();
        SqlConnection &db = lease.handle();
        Database::Transaction tx(db, Database::Transaction::Write);
        // A concurrent registration of the same address (on any node) waits for this
        // one and then inserts nothing.
        SqlStatement insert(db, "INSERT INTO users(email, verifier, created) VALUES (?1, ?2, ?3) "
                                "ON CONFLICT DO NOTHING RETURNING id");
        insert.bind(1, email).bind(2, verifier).bind(3, Codec::now());
        if (!insert.step())
            return std::nullopt;
        userId = insert.integer(0);
        insert.run();
        tx.commit();
    }
    Log::info("registered user " + std::to_string(userId));
    return Session {userId, issueToken(userId)};
}

std::optional<Accounts::Session> Accounts::login(const std::string &email, const std::string &passwordMd5)
{
    std::int64_t userId = 0;
    std::string verifier;
    {
        auto lease = m_db.lease();
        SqlStatement select(lease.handle(), "SELECT id, verifier FROM users WHERE lower(email) = lower(CAST(?1 AS TEXT))");
        select.bind(1, email);
        if (!select.step())
            return std::nullopt;
        userId = select.integer(0);
        verifier = select.text(1);
    }
    if (!matchesVerifier(verifier, passwordMd5))
        return std::nullopt;
    return Session {userId, issueToken(userId)};
}

bool Accounts::checkPassword(std::int64_t userId, const std::string &passwordMd5)
{
    std::string verifier;
    {
        auto lease = m_db.lease();
        SqlStatement select(lease.handle(), "SELECT verifier FROM users WHERE id = ?1");
        select.bind(1, userId);
        if (!select.step())
            return false;
        verifier = select.text(0);
    }
    return matchesVerifier(verifier, passwordMd5);
}

std::optional<std::int64_t> Accounts::userForToken(const std::string &token, TokenState *state)
{
    if (state)
        *state = TokenState::Absent;
    if (token.empty() || token.size() > kMaxShortText)
        return std::nullopt;
    const std::string digest = Codec::tokenDigest(token);
    auto lease = m_db.lease();
    SqlStatement select(lease.handle(), "SELECT user_id, expires FROM tokens WHERE digest = ?1");
    select.bind(1, digest);
    if (!select.step())
        return std::nullopt;
    if (select.integer(1) <= Codec::now()) {
        if (state)
            *state = TokenState::Expired;
        SqlStatement remove(lease.handle(), "DELETE FROM tokens WHERE digest = ?1");
        remove.bind(1, digest).run();
        ended({digest});
        return std::nullopt;
    }
    if (state)
        *state = TokenState::Valid;
    return select.integer(0);
}

std::optional<std::int64_t> Accounts::userByEmail(const std::string &email)
{
    auto lease = m_db.lease();
    SqlStatement select(lease.handle(), "SELECT id FROM users WHERE lower(email) = lower(CAST(?1 AS TEXT))");
    select.bind(1, email);
    if (!select.step())
        return std::nullopt;
    return select.integer(0);
}

std::string Accounts::createResetToken(std::int64_t userId)
{
    const std::string token = Codec::newToken();
    auto lease = m_db.lease();
    SqlStatement insert(lease.handle(), "INSERT INTO reset_tokens(digest, user_id, expires) VALUES (?1, ?2, ?3)");
    insert.bind(1, Codec::tokenDigest(token)).bind(2, userId).bind(3, Codec::now() + kResetTokenSeconds).run();
    return token;
}

bool Accounts::resetPassword(const std::string &resetToken, const std::string &passwordMd5)
{
    if (!Codec::isLowerHex(resetToken, 64))
        return false;
    const std::string resetDigest = Codec::tokenDigest(resetToken);
    const auto linkValid = [&resetDigest](SqlConnection &db) -> std::optional<std::int64_t> {
        SqlStatement select(db, "SELECT user_id, expires FROM reset_tokens WHERE digest = ?1");
        select.bind(1, resetDigest);
        if (!select.step() || select.integer(1) <= Codec::now())
            return std::nullopt;
        return select.integer(0);
    };
    {
        auto lease = m_db.lease();
        if (!linkValid(lease.handle()))
            return false;
    }
    const std::string verifier = makeVerifier(passwordMd5);
    std::vector<std::string> signedOut;
    std::int64_t userId = 0;
    {
        auto lease = m_db.lease();
        SqlConnection &db = lease.handle();
        Database::Transaction tx(db, Database::Transaction::Write);
        // Checked again: the link may have been used while the password was hashed.
        const auto user = linkValid(db);
        if (!user)
            return false;
        userId = *user;
        SqlStatement(db, "UPDATE users SET verifier = ?2 WHERE id = ?1").bind(1, userId).bind(2, verifier).run();
        SqlStatement(db, "DELETE FROM reset_tokens WHERE user_id = ?1").bind(1, userId).run();
        SqlStatement tokens(db, "SELECT digest FROM tokens WHERE user_id = ?1");
        tokens.bind(1, userId);
        while (tokens.step())
            signedOut.push_back(tokens.text(0));
        SqlStatement(db, "DELETE FROM tokens WHERE user_id = ?1").bind(1, userId).run();
        tx.commit();
    }
    ended(signedOut);
    Log::info("password reset for user " + std::to_string(userId));
    return true;
}

void Accounts::removeExpired()
{
    std::vector<std::string> expired;
    {
        auto lease = m_db.lease();
        SqlConnection &db = lease.handle();
        Database::Transaction tx(db, Database::Transaction::Write);
        SqlStatement select(db, "SELECT digest FROM tokens WHERE expires <= ?1");
        select.bind(1, Codec::now());
        while (select.step())
            expired.push_back(select.text(0));
        SqlStatement(db, "DELETE FROM tokens WHERE expires <= ?1").bind(1, Codec::now()).run();
        SqlStatement(db, "DELETE FROM reset_tokens WHERE expires <= ?1").bind(1, Codec::now()).run();
        tx.commit();
    }
    ended(expired);
}

std::vector<std::pair<std::int64_t, std::string>> Accounts::activeTokens()
{
    std::vector<std::pair<std::int64_t, std::string>> out;
    auto lease = m_db.lease();
    SqlStatement select(lease.handle(), "SELECT user_id, digest FROM tokens WHERE expires > ?1");
    select.bind(1, Codec::now());
    while (select.step())
        out.emplace_back(select.integer(0), select.text(1));
    return out;
}

} // namespace ZorvelService
