#include "Certificates.h"

#include "Log.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <memory>

namespace ZorvelService {

namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;

constexpr long kDay = 24L * 60 * 60;
constexpr long kCaDays = 3650;
constexpr long kServerDays = 825;
constexpr long kRenewDays = 30;

bool isIpAddress(const std::string &host)
{
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

KeyPtr newKey()
{
    return KeyPtr(EVP_EC_gen("P-256"), EVP_PKEY_free);
}

KeyPtr readKey(const std::string &path)
{
    FILE *file = std::fopen(path.c_str(), "r");
    if (!file)
        return KeyPtr(nullptr, EVP_PKEY_free);
    KeyPtr key(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr), EVP_PKEY_free);
    std::fclose(file);
    return key;
}

CertPtr readCert(const std::string &path)
{
    FILE *file = std::fopen(path.c_str(), "r");
    if (!file)
        return CertPtr(nullptr, X509_free);
    CertPtr cert(PEM_read_X509(file, nullptr, nullptr, nullptr), X509_free);
    std::fclose(file);
    return cert;
}

bool writeKey(const std::string &path, EVP_PKEY *key)
{
    const mode_t old = umask(077);
    FILE *file = std::fopen(path.c_str(), "w");
    umask(old);
    if (!file)
        return false;
    const bool ok = PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    return std::fclose(file) == 0 && ok;
}

bool writeCerts(const std::string &path, X509 *first, X509 *second)
{
    FILE *file = std::fopen(path.c_str(), "w");
    if (!file)
        return false;
    bool ok = PEM_write_X509(file, first) == 1;
    if (second)
        ok = ok && PEM_write_X509(file, second) == 1;
    return std::fclose(file) == 0 && ok;
}

bool addExtension(X509 *cert, X509 *issuer, int nid, const std::string &value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!ext)
        return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

CertPtr makeCert(EVP_PKEY *key, const std::string &commonName, long days, X509 *issuer)
{
    CertPtr cert(X509_new(), X509_free);
    if (!cert)
        return cert;
    X509_set_version(cert.get(), 2);
    BIGNUM *serial = BN_new();
    BN_rand(serial, 120, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
    BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(cert.get()));
    BN_free(serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -kDay);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), days * kDay);
    X509_set_pubkey(cert.get(), key);
    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("Zorvel"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>(commonName.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
    return cert;
}

bool covers(X509 *cert, const std::string &host)
{
    if (isIpAddress(host))
        return X509_check_ip_asc(cert, host.c_str(), 0) == 1;
    return X509_check_host(cert, host.c_str(), host.size(), 0, nullptr) == 1;
}

} // namespace

Certificates::Certificates(std::string folder)
    : m_folder(std::move(folder))
{
}

bool Certificates::ensure(const std::vector<std::string> &hosts, std::string *error)
{
    KeyPtr caKey = readKey(caKeyPath());
    CertPtr ca = readCert(caPath());
    if (!caKey || !ca || X509_check_private_key(ca.get(), caKey.get()) != 1) {
        Log::info("creating the service's certificate authority in " + m_folder);
        caKey = newKey();
        if (!caKey) {
            *error = "cannot create a key";
            return false;
        }
        ca = makeCert(caKey.get(), "Zorvel local service CA", kCaDays, nullptr);
        const bool ok = ca && addExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE")
            && addExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign")
            && addExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash")
            && X509_sign(ca.get(), caKey.get(), EVP_sha256()) > 0;
        if (!ok || !writeKey(caKeyPath(), caKey.get()) || !writeCerts(caPath(), ca.get(), nullptr)) {
            *error = "cannot create the certificate authority in " + m_folder;
            return false;
        }
        std::remove(serverCertPath().c_str());
    }

    KeyPtr serverKey = readKey(serverKeyPath());
    CertPtr server = readCert(serverCertPath());
    bool current = serverKey && server && X509_check_private_key(server.get(), serverKey.get()) == 1
        && X509_verify(server.get(), X509_get0_pubkey(ca.get())) == 1;
    if (current) {
        std::time_t renewAt = std::time(nullptr) + kRenewDays * kDay;
        current = X509_cmp_time(X509_get0_notAfter(server.get()), &renewAt) > 0;
        for (const std::string &host : hosts)
            current = current && covers(server.get(), host);
    }
    if (current)
        return true;

    Log::info("creating the service's server certificate in " + m_folder);
    serverKey = newKey();
    if (!serverKey) {
        *error = "cannot create a key";
        return false;
    }
    std::string names;
    for (const std::string &host : hosts)
        names += (names.empty() ? "" : ",") + std::string(isIpAddress(host) ? "IP:" : "DNS:") + host;
    server = makeCert(serverKey.get(), hosts.empty() ? "localhost" : hosts.front(), kServerDays, ca.get());
    const bool ok = server && addExtension(server.get(), ca.get(), NID_basic_constraints, "CA:FALSE")
        && addExtension(server.get(), ca.get(), NID_key_usage, "critical,digitalSignature,keyEncipherment")
        && addExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth")
        && addExtension(server.get(), ca.get(), NID_subject_alt_name, names)
        && addExtension(server.get(), ca.get(), NID_subject_key_identifier, "hash")
        && addExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid")
        && X509_sign(server.get(), caKey.get(), EVP_sha256()) > 0;
    if (!ok || !writeKey(serverKeyPath(), serverKey.get()) || !writeCerts(serverCertPath(), server.get(), ca.get())) {
        *error = "cannot create the server certificate in " + m_folder;
        return false;
    }
    return true;
}

} // namespace ZorvelService
