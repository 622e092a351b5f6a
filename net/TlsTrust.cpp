#include "net/TlsTrust.h"

#include "net/BuildSettings.h"

#include <QFile>
#include <QSslSocket>

QList<QSslCertificate> TlsTrust::extraCertificates()
{
    // Read on every call until found: the local service writes its CA on first run,
    // which may be after this process started.
    static QList<QSslCertificate> cached;
    if (!cached.isEmpty())
        return cached;
    const QString path = QString::fromUtf8(Zorvel::Build::kTrustedCaFile);
    if (path.isEmpty() || !QFile::exists(path))
        return cached;
    cached = QSslCertificate::fromPath(path, QSsl::Pem);
    if (cached.isEmpty())
        qWarning("TLS: no certificate could be read from %s", qPrintable(path));
    return cached;
}

QSslConfiguration TlsTrust::configuration()
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    const QList<QSslCertificate> extra = extraCertificates();
    if (!extra.isEmpty()) {
        QList<QSslCertificate> cas = config.caCertificates();
        cas.append(extra);
        config.setCaCertificates(cas);
    }
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    return config;
}
