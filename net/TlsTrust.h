#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>

// TLS settings shared by every connection to the service: the peer is always
// verified, against the system CAs plus the CA file named by the build.
class TlsTrust
{
public:
    static QSslConfiguration configuration();
    // Certificates read from the build's CA file; empty when it is missing.
    static QList<QSslCertificate> extraCertificates();
};
