#include "ServerKeys.h"

#include "Codec.h"
#include "Log.h"

#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

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

// Creates the file only when it is absent, atomically (written aside, then linked):
// nodes starting at once on a shared folder all end up with the one that came first.
bool createSecret(const std::string &path, const std::string &bytes)
{
    const std::string temp = path + "." + Codec::toHex(Codec::randomBytes(6)) + ".part";
    const mode_t old = umask(077);
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    umask(old);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    const bool linked = out && (link(temp.c_str(), path.c_str()) == 0 || errno == EEXIST);
    unlink(temp.c_str());
    return linked;
}

// The secret at path, made with make() when the file is missing. A file of the wrong
// size is replaced, as before.
std::optional<std::string> loadSecret(const std::string &path, std::size_t size,
                                      const std::function<std::string()> &make)
{
    auto bytes = readFile(path);
    if (bytes && bytes->size() == size)
        return bytes;
    if (bytes) {
        Log::warning(path + " is damaged; making a new one");
        unlink(path.c_str());
    }
    if (!createSecret(path, make()))
        return std::nullopt;
    bytes = readFile(path);
    if (!bytes || bytes->size() != size)
        return std::nullopt;
    return bytes;
}

} // namespace

bool ServerKeys::load(const std::string &boxPath, const std::string &secretPath, std::string *error)
{
    const auto box = loadSecret(boxPath, crypto_box_PUBLICKEYBYTES + crypto_box_SECRETKEYBYTES, [] {
        Log::info("creating the service's sealing key pair");
        unsigned char pk[crypto_box_PUBLICKEYBYTES];
        unsigned char sk[crypto_box_SECRETKEYBYTES];
        crypto_box_keypair(pk, sk);
        std::string pair = std::string(reinterpret_cast<char *>(pk), sizeof pk)
            + std::string(reinterpret_cast<char *>(sk), sizeof sk);
        sodium_memzero(sk, sizeof sk);
        return pair;
    });
    if (!box) {
        *error = "cannot write " + boxPath;
        return false;
    }
    m_publicKey = box->substr(0, crypto_box_PUBLICKEYBYTES);
    m_secretKey = box->substr(crypto_box_PUBLICKEYBYTES);

    const auto secret = loadSecret(secretPath, 32, [] { return Codec::randomBytes(32); });
    if (!secret) {
        *error = "cannot write " + secretPath;
        return false;
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
