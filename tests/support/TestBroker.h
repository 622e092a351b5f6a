#pragma once

// The broker of the local stack (scripts/services.d/mosquitto, on the build's MQTT
// port) and the service's own account on it, the only one that may publish notices.

#include <fstream>
#include <string>

namespace TestBroker {

inline int port() { return ZORVEL_TEST_MQTT_PORT; }
inline std::string uri() { return "tcp://127.0.0.1:" + std::to_string(port()); }

struct Account {
    std::string user;
    std::string password;
};

inline Account serviceAccount()
{
    std::ifstream in(ZORVEL_TEST_BROKER_ACCOUNT);
    Account account;
    std::getline(in, account.user);
    std::getline(in, account.password);
    return account;
}

} // namespace TestBroker
