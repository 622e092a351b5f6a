#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

class QMimeData;

// Recognises files copied by a file manager: "text/uri-list" with file:// URLs, or
// GNOME's "x-special/gnome-copied-files" (an action line, then one URL per line).
class CopiedFiles
{
public:
    // Local path of the first copied file; empty when the data offers no copied
    // file (no URL, or the first URL is not a local file). offered is data's
    // formats(), listed once by the caller.
    static QString firstLocalPath(const QMimeData *data, const QStringList &offered);

private:
    static QList<QUrl> parseUrls(const QByteArray &bytes, bool skipActionLine);
};
