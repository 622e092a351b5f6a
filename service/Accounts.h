#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ZorvelService {

class Database;
class PasswordGate;

// Users, their sign-in tokens and password resets. A password reaches the service
// only as the lower-case hex MD5 text the client computes; the service keeps an
// Argon2id verifier of that text and nothing else. Tokens are 32 random bytes (hex)
// and are stored as digests.
class Accounts {
public:
    // Every Argon2id computation waits for a turn at `gate`; a user keeps at most
    // `tokensPerUser` tokens, the oldest ending first.
    Accounts(Database &db, std::int64_t tokenDays, PasswordGate &gate, int tokensPerUser);

    // Told about every token that is issued and every token that ends (by expiry,
    // the per-user cap or a password reset), with the token's digest.
    std::function<void(std::int64_t userId, const std::string &digest)> tokenIssued;
    std::function<void(const std::vector<std::string> &digests)> tokensEnded;

    struct Session {
        std::int64_t userId = 0;
        std::string token;
    };
    enum class TokenState { Absent, Valid, Expired };

    static bool isEmail(const std::string &text);
    static bool isPasswordHash(const std::string &text);

    // nullopt when the address is already registered.
    std::optional<Session> registerUser(const std::string &email, const std::string &passwordMd5);
    std::optional<Session> login(const std::string &email, const std::string &passwordMd5);
    bool checkPassword(std::int64_t userId, const std::string &passwordMd5);

    // The user of a valid token; an expired token is removed on the way.
    std::optional<std::int64_t> userForToken(const std::string &token, TokenState *state = nullptr);

    std::optional<std::int64_t> userByEmail(const std::string &email);
    std::string createResetToken(std::int64_t userId);
    // Sets the new password and signs the user out everywhere. The link is checked
    // before any password work.
    bool resetPassword(const std::string &resetToken, const std::string &passwordMd5);

    // Removes expired tokens and reset links.
    void removeExpired();
    // (user id, digest) of every valid token.
    std::vector<std::pair<std::int64_t, std::string>> activeTokens();

private:
    std::string issueToken(std::int64_t userId);

    std::string makeVerifier(const std::string &passwordMd5);
    bool matchesVerifier(const std::string &verifier, const std::string &passwordMd5);
    void ended(const std::vector<std::string> &digests);

    Database &m_db;
    std::int64_t m_tokenSeconds;
    PasswordGate &m_gate;
    int m_tokensPerUser;
};

} // namespace ZorvelService
