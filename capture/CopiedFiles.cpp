#include "capture/CopiedFiles.h"

#include "app/Constants.h"

#include <QMimeData>

QList<QUrl> CopiedFiles::parseUrls(const QByteArray &bytes, bool skipActionLine)
{
    QList<QUrl> urls;
    const QList<QByteArray> lines = bytes.split('\n');
    for (int i = skipActionLine ? 1 : 0; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        // Lines starting with '#' are comments in a URI list.
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QUrl url = QUrl::fromEncoded(line);
        if (url.isValid())
            urls.append(url);
    }
    return urls;
}

QString CopiedFiles::firstLocalPath(const QMimeData *data, const QStringList &offered)
{
    QList<QUrl> urls;
    if (offered.contains(QLatin1String(Zorvel::Mime::UriList)))
        urls = parseUrls(data->data(QLatin1String(Zorvel::Mime::UriList)), false);
    if (urls.isEmpty() && offered.contains(QLatin1String(Zorvel::Mime::GnomeCopiedFiles)))
        urls = parseUrls(data->data(QLatin1String(Zorvel::Mime::GnomeCopiedFiles)), true);
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return QString();
    return urls.first().toLocalFile();
}
