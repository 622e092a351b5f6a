#include "ServerKeys.h"

#include "Codec.h"
#include "Log.h"

#include <sodium.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

namespace ZorvelService {

namespace {

std::optional<std::string> readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeSecret(const std::string &path, const std::string &bytes)
{
    const mode_t old = umask(077);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    umask(old);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

} // namespace

bool ServerKeys::load(const std::string &folder, std::string *error)
{
    const std::string boxPath = folder + "/box-key";
    auto box = readFile(boxPath);
    if (!box || box->size() != crypto_box_PUBLICKEYBYTES + crypto_box_SECRETKEYBYTES) {
        Log::info("creating the service's sealing key pair");
        unsigned char pk[crypto_box_PUBLICKEYBYTES];
        unsigned char sk[crypto_box_SECRETKEYBYTES];
        crypto_box_keypair(pk, sk);
        box = std::string(reinterpret_cast<char *>(pk), sizeof pk) + std::string(reinterpret_cast<char *>(sk), sizeof sk);
        sodium_memzero(sk, sizeof sk);
        if (!writeSecret(boxPath, *box)) {
            *error = "cannot write " + boxPath;
            return false;
        }
    }
    m_publicKey = box->substr(0, crypto_box_PUBLICKEYBYTES);
    m_secretKey = box->substr(crypto_box_PUBLICKEYBYTES);

    const std::string secretPath = folder + "/object-secret";
    auto secret = readFile(secretPath);
    if (!secret || secret->size() != 32) {
        secret = Codec::randomBytes(32);
        if (!writeSecret(secretPath, *secret)) {
            *error = "cannot write " + secretPath;
            return false;
        }
    }
    m_objectSecret = *secret;
    return true;
}

std::string ServerKeys::publicKeyBase64() const
{
    return Codec::toBase64(m_publicKey);
}

std::optional<std::string> ServerKeys::openSealed(const std::string &sealed) const
{
    if (sealed.size() < crypto_box_SEALBYTES)
        return std::nullopt;
    std::string plain(sealed.size() - crypto_box_SEALBYTES, '\0');
    if (crypto_box_seal_open(reinterpret_cast<unsigned char *>(plain.data()),
                             reinterpret_cast<const unsigned char *>(sealed.data()), sealed.size(),
                             reinterpret_cast<const unsigned char *>(m_publicKey.data()),
                             reinterpret_cast<const unsigned char *>(m_secretKey.data()))
        != 0)
        return std::nullopt;
    return plain;
}

} // namespace ZorvelService
