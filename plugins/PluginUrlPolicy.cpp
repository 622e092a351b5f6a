#include "plugins/PluginUrlPolicy.h"

#include <QHostAddress>
#include <QStringList>
#include <QUrlQuery>

namespace {

QUrl refuse(const char *why)
{
    qWarning("plugin openURL: refused an address (%s)", why);
    return QUrl();
}

// Names that reach this machine or the local network, not the public web.
bool localName(const QString &host)
{
    static const QStringList suffixes = {QStringLiteral(".localhost"), QStringLiteral(".local"),
                                         QStringLiteral(".internal"), QStringLiteral(".lan"),
                                         QStringLiteral(".home.arpa"), QStringLiteral(".intranet")};
    if (host == QLatin1String("localhost") || !host.contains(QLatin1Char('.')))
        return true;
    for (const QString &suffix : suffixes) {
        if (host.endsWith(suffix))
            return true;
    }
    return false;
}

bool publicAddress(const QHostAddress &address)
{
    // IPv4 inside IPv6 (::ffff:127.0.0.1) is judged as IPv4.
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    const QHostAddress a = mapped ? QHostAddress(v4) : address;
    if (!a.isGlobal() || a.isLoopback() || a.isLinkLocal() || a.isMulticast() || a.isBroadcast()
        || a.isUniqueLocalUnicast() || a.isSiteLocal())
        return false;
    if (a.protocol() == QAbstractSocket::IPv4Protocol) {
        const quint32 ip = a.toIPv4Address();
        const struct {
            quint32 net, mask;
        } privateNets[] = {{0x0A000000, 0xFF000000}, {0xAC100000, 0xFFF00000}, {0xC0A80000, 0xFFFF0000},
                           {0x64400000, 0xFFC00000}, {0x00000000, 0xFF000000}, {0xA9FE0000, 0xFFFF0000},
                           {0x7F000000, 0xFF000000}};
        for (const auto &n : privateNets) {
            if ((ip & n.mask) == n.net)
                return false;
        }
    }
    return true;
}

QUrl checkWeb(const QUrl &url)
{
    const QString host = url.host(QUrl::FullyDecoded).toLower();
    if (host.isEmpty())
        return refuse("no host");
    if (!url.userInfo().isEmpty())
        return refuse("user name in the address");
    QHostAddress address;
    if (address.setAddress(host)) {
        if (!publicAddress(address))
            return refuse("local or private host");
    } else if (localName(host)) {
        return refuse("local host name");
    }
    return url;
}

QUrl checkMail(const QUrl &url)
{
    QUrl clean(url);
    const QUrlQuery query(url);
    QUrlQuery kept;
    for (const auto &item : query.queryItems(QUrl::FullyEncoded)) {
        const QString key = item.first.toLower();
        if (key == QLatin1String("to") || key == QLatin1String("subject") || key == QLatin1String("body"))
            kept.addQueryItem(key, item.second);
    }
    if (kept.isEmpty())
        clean.setQuery(QString());
    else
        clean.setQuery(kept);
    clean.setFragment(QString());
    return clean;
}

} // namespace

QUrl PluginUrlPolicy::check(const QByteArray &utf8)
{
    if (utf8.isEmpty())
        return refuse("empty");
    if (utf8.size() > MaxBytes)
        return refuse("longer than 2 KiB");
    const QUrl url(QString::fromUtf8(utf8).trimmed(), QUrl::TolerantMode);
    if (!url.isValid())
        return refuse("not an address");
    const QString scheme = url.scheme().toLower();
    QUrl checked;
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        checked = checkWeb(url);
    else if (scheme == QLatin1String("mailto"))
        checked = checkMail(url);
    else
        return refuse("not a web or mail address");
    if (checked.isValid() && checked.toEncoded().size() > MaxBytes)
        return refuse("longer than 2 KiB");
    return checked;
}
