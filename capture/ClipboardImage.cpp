#include "capture/ClipboardImage.h"

#include <QImageReader>
#include <QMimeData>

namespace {

const QString kPng = QStringLiteral("image/png");

} // namespace

QByteArray ClipboardImage::encodedBytes(const QMimeData *data, const QStringList &offered)
{
    // Most programs offer PNG; asking Qt which types it reads loads every image
    // plugin, so that is only done for the few that offer none.
    if (offered.contains(kPng)) {
        const QByteArray bytes = data->data(kPng);
        if (!bytes.isEmpty())
            return bytes;
    }
    for (const QByteArray &type : QImageReader::supportedMimeTypes()) {
        const QString name = QString::fromLatin1(type);
        if (name == kPng || !offered.contains(name))
            continue;
        const QByteArray bytes = data->data(name);
        if (!bytes.isEmpty())
            return bytes;
    }
    return QByteArray();
}
