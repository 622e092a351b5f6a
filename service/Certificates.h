#pragma once

#include <string>
#include <vector>

namespace ZorvelService {

// The service's own certificate authority and TLS server certificate, made with
// OpenSSL in the data folder on first run: ca.pem (what clients trust), ca-key.pem,
// server.pem (server certificate followed by the CA) and server-key.pem. The server
// certificate is made again when it no longer covers a host, is about to expire, or
// was not signed by the CA in the folder.
class Certificates {
public:
    explicit Certificates(std::string folder);

    bool ensure(const std::vector<std::string> &hosts, std::string *error);

    std::string caPath() const { return m_folder + "/ca.pem"; }
    std::string caKeyPath() const { return m_folder + "/ca-key.pem"; }
    std::string serverCertPath() const { return m_folder + "/server.pem"; }
    std::string serverKeyPath() const { return m_folder + "/server-key.pem"; }

private:
    std::string m_folder;
};

} // namespace ZorvelService
