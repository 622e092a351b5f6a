#pragma once

#include <optional>
#include <string>

namespace ZorvelService {

// The service's secrets, made on first run and kept in the data folder (mode 0600)
// or in files given by flag: the X25519 key pair that clients seal password hashes to
// ("box-key") and the key that signs object-store policies and download URLs
// ("object-secret"). Every node of one service must hold the same two.
class ServerKeys {
public:
    bool load(const std::string &boxKeyPath, const std::string &objectSecretPath, std::string *error);

    std::string publicKeyBase64() const;
    // Opens a crypto_box_seal box made for the public key; nullopt when it does not open.
    std::optional<std::string> openSealed(const std::string &sealed) const;
    const std::string &objectSecret() const { return m_objectSecret; }

private:
    std::string m_publicKey;
    std::string m_secretKey;
    std::string m_objectSecret;
};

} // namespace ZorvelService
