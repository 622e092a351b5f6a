#include "capture/ClipboardImage.h"

#include <QImageReader>
#include <QMimeData>

QByteArray ClipboardImage::encodedBytes(const QMimeData *data, const QStringList &offered)
{
    static const QList<QByteArray> readable = [] {
        QList<QByteArray> types = QImageReader::supportedMimeTypes();
        types.removeAll(QByteArrayLiteral("image/png"));
        types.prepend(QByteArrayLiteral("image/png"));
        return types;
    }();
    for (const QByteArray &type : readable) {
        const QString name = QString::fromLatin1(type);
        if (!offered.contains(name))
            continue;
        const QByteArray bytes = data->data(name);
        if (!bytes.isEmpty())
            return bytes;
    }
    return QByteArray();
}
