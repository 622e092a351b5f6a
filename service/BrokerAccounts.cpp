#include "BrokerAccounts.h"

#include "Codec.h"
#include "Log.h"
#include "Notifier.h"
#include "ServiceConstants.h"

#include <chrono>
#include <set>

namespace ZorvelService {

namespace {

constexpr auto kGrantWait = std::chrono::seconds(2);
// Commands per control message; the plugin answers each message in one reply.
constexpr std::size_t kCommandsPerMessage = 200;

std::string roleFor(std::int64_t userId)
{
    return "zorvel-user-" + std::to_string(userId);
}

} // namespace

BrokerAccounts::BrokerAccounts(Notifier &notifier, std::string secret)
    : m_notifier(notifier)
    , m_secret(Codec::hmacSha256(secret, "broker-accounts"))
    // Several services may share a broker (tests do): each touches only its own accounts.
    , m_prefix("zd" + Codec::toHex(Codec::hmacSha256(m_secret, "instance")).substr(0, 8) + "-")
{
}

BrokerAccounts::Credentials BrokerAccounts::credentialsFor(const std::string &tokenDigest) const
{
    const auto derive = [this, &tokenDigest](const char *label, std::size_t hexDigits) {
        return Codec::toHex(Codec::hmacSha256(m_secret, std::string(label) + ":" + tokenDigest)).substr(0, hexDigits);
    };
    return {m_prefix + derive("username", 24), derive("password", 64), "zc-" + derive("client-id", 32)};
}

nlohmann::json BrokerAccounts::credentialsJson(const std::string &tokenDigest) const
{
    const Credentials c = credentialsFor(tokenDigest);
    return {{"username", c.username}, {"password", c.password}, {"client_id", c.clientId}};
}

nlohmann::json BrokerAccounts::grantCommands(std::int64_t userId, const std::string &tokenDigest) const
{
    const Credentials c = credentialsFor(tokenDigest);
    const std::string topic = kTopicPrefix + std::to_string(userId);
    // "Role already exists" answers the first command after the user's first device.
    return nlohmann::json::array(
        {{{"command", "createRole"},
          {"rolename", roleFor(userId)},
          {"acls", {{{"acltype", "subscribeLiteral"}, {"topic", topic}, {"allow", true}}}}},
         {{"command", "createClient"},
          {"username", c.username},
          {"password", c.password},
          {"clientid", c.clientId},
          {"roles", {{{"rolename", roleFor(userId)}}}}}});
}

void BrokerAccounts::grant(std::int64_t userId, const std::string &tokenDigest)
{
    nlohmann::json commands = grantCommands(userId, tokenDigest);
    if (!m_notifier.isConnected()) {
        send(std::move(commands)); // entered when the broker is back, or at resynchronise()
        return;
    }
    const std::string correlation = Codec::toHex(Codec::randomBytes(8));
    commands.back()["correlationData"] = correlation;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.insert(correlation);
    }
    send(std::move(commands));
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_answered.wait_for(lock, kGrantWait, [&] { return m_pending.count(correlation) == 0; }))
        Log::warning("the broker did not confirm a device account in time");
    m_pending.erase(correlation);
}

void BrokerAccounts::revoke(const std::vector<std::string> &tokenDigests)
{
    nlohmann::json commands = nlohmann::json::array();
    for (const std::string &digest : tokenDigests)
        commands.push_back({{"command", "deleteClient"}, {"username", credentialsFor(digest).username}});
    send(std::move(commands));
}

void BrokerAccounts::resynchronise()
{
    send(nlohmann::json::array({{{"command", "listClients"}, {"verbose", false}, {"count", -1}}}));
}

void BrokerAccounts::controlResponse(const nlohmann::json &response)
{
    const auto responses = response.find("responses");
    if (responses == response.end() || !responses->is_array())
        return;
    for (const nlohmann::json &answer : *responses) {
        if (!answer.is_object())
            continue;
        if (answer.contains("correlationData") && answer["correlationData"].is_string()) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_pending.erase(answer["correlationData"].get<std::string>());
            }
            m_answered.notify_all();
        }
        const std::string command = answer.value("command", "");
        const std::string error = answer.contains("error") && answer["error"].is_string() ? answer["error"].get<std::string>()
                                                                                          : std::string();
        if (!error.empty() && error != "Role already exists" && error != "Client already exists"
            && error != "Client not found")
            Log::warning("broker access control: " + command + ": " + error);
        if (command != "listClients" || !error.empty() || !activeTokens)
            continue;
        std::set<std::string> held;
        const nlohmann::json clients = answer.value("data", nlohmann::json::object()).value("clients", nlohmann::json::array());
        for (const nlohmann::json &name : clients) {
            if (name.is_string() && name.get<std::string>().rfind(m_prefix, 0) == 0)
                held.insert(name.get<std::string>());
        }
        nlohmann::json commands = nlohmann::json::array();
        for (const auto &[userId, digest] : activeTokens()) {
            if (held.erase(credentialsFor(digest).username) == 0) {
                for (nlohmann::json &c : grantCommands(userId, digest))
                    commands.push_back(std::move(c));
            }
        }
        // What is left belongs to tokens that ended while the broker was away.
        for (const std::string &name : held)
            commands.push_back({{"command", "deleteClient"}, {"username", name}});
        send(std::move(commands));
    }
}

void BrokerAccounts::send(nlohmann::json commands)
{
    for (std::size_t start = 0; start < commands.size(); start += kCommandsPerMessage) {
        nlohmann::json part = nlohmann::json::array();
        for (std::size_t i = start; i < commands.size() && i < start + kCommandsPerMessage; ++i)
            part.push_back(std::move(commands[i]));
        m_notifier.publishControl(nlohmann::json {{"commands", std::move(part)}}.dump());
    }
}

} // namespace ZorvelService
