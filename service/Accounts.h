#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ZorvelService {

class Database;

// Users, their sign-in tokens and password resets. A password reaches the service
// only as the lower-case hex MD5 text the client computes; the service keeps an
// Argon2id verifier of that text and nothing else. Tokens are 32 random bytes (hex)
// and are stored as digests.
class Accounts {
public:
    Accounts(Database &db, std::int64_t tokenDays);

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
    // Sets the new password and signs the user out everywhere.
    bool resetPassword(const std::string &resetToken, const std::string &passwordMd5);

private:
    std::string issueToken(std::int64_t userId);

    Database &m_db;
    std::int64_t m_tokenSeconds;
};

} // namespace ZorvelService
