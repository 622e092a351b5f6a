#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace ZorvelService {

class Notifier;

// The broker accounts of signed-in devices, kept in Mosquitto's dynamic-security
// plugin through the service's own broker account. Each user token has one account,
// derived from the token's digest and a service secret, so nothing more is stored:
// username "zd<instance>-…", a password, and the only client id the account may connect with
// (a secret, so no other account can take that client id over). The account may
// subscribe to its user's topic and to nothing else; it ends when the token ends,
// and the broker then drops its connection.
class BrokerAccounts {
public:
    BrokerAccounts(Notifier &notifier, std::string secret);

    struct Credentials {
        std::string username;
        std::string password;
        std::string clientId;
    };
    Credentials credentialsFor(const std::string &tokenDigest) const;
    // {"username", "password", "client_id"}: what a device connects with.
    nlohmann::json credentialsJson(const std::string &tokenDigest) const;

    // Waits (briefly, and only while the broker is connected) until the broker holds
    // the account, so that the device can connect as soon as it has the reply.
    void grant(std::int64_t userId, const std::string &tokenDigest);
    void revoke(const std::vector<std::string> &tokenDigests);

    // Called on every (re)connection to the broker: asks for the accounts the broker
    // holds; the answer is compared with activeTokens() and put right.
    void resynchronise();
    void controlResponse(const nlohmann::json &response);

    // (user id, token digest) of every valid token; set by the service.
    std::function<std::vector<std::pair<std::int64_t, std::string>>()> activeTokens;

private:
    nlohmann::json grantCommands(std::int64_t userId, const std::string &tokenDigest) const;
    void send(nlohmann::json commands);

    std::mutex m_mutex;
    std::condition_variable m_answered;
    std::set<std::string> m_pending; // correlation data of grants not answered yet
    Notifier &m_notifier;
    std::string m_secret;
    std::string m_prefix;
};

} // namespace ZorvelService
