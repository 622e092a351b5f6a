#include "platform/OfferedMimeData.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QUrl>

namespace {

const QString kQtText = QStringLiteral("text/plain");
const QString kQtImage = QStringLiteral("application/x-qt-image");
// Best first: UTF-8 before Latin-1 (STRING).
const QStringList kTextNames = {QStringLiteral("text/plain;charset=utf-8"), QStringLiteral("UTF8_STRING"),
                                QStringLiteral("text/plain"), QStringLiteral("STRING"), QStringLiteral("TEXT")};
// Image formats Qt reads (all but PNG and BMP through a plugin), PNG first as
// Qt's own conversion does.
const QStringList kImageNames = {QStringLiteral("image/png"), QStringLiteral("image/bmp"),
                                 QStringLiteral("image/jpeg"), QStringLiteral("image/tiff"),
                                 QStringLiteral("image/gif"), QStringLiteral("image/webp")};

} // namespace

OfferedMimeData::OfferedMimeData(const QStringList &offered)
    : m_offered(offered)
{
}

QString OfferedMimeData::firstOffered(const QStringList &candidates) const
{
    for (const QString &name : candidates) {
        if (m_offered.contains(name))
            return name;
    }
    return QString();
}

QStringList OfferedMimeData::formats() const
{
    QStringList out = m_offered;
    if (!out.contains(kQtText) && !firstOffered(kTextNames).isEmpty())
        out.append(kQtText);
    if (!firstOffered(kImageNames).isEmpty())
        out.append(kQtImage);
    return out;
}

bool OfferedMimeData::hasFormat(const QString &mimeType) const
{
    return formats().contains(mimeType);
}

QVariant OfferedMimeData::retrieveData(const QString &mimeType, QVariant::Type type) const
{
    if (mimeType == kQtText) {
        const QString name = firstOffered(kTextNames);
        if (name.isEmpty())
            return QVariant();
        const QByteArray bytes = read(name);
        return name == QLatin1String("STRING") ? QString::fromLatin1(bytes) : QString::fromUtf8(bytes);
    }
    if (mimeType == kQtImage) {
        const QString name = firstOffered(kImageNames);
        if (name.isEmpty())
            return QVariant();
        const QByteArray bytes = read(name);
        if (bytes.isEmpty())
            return QVariant();
        // Read as the format named and nothing else: letting Qt guess would load
        // every image plugin to ask it.
        QBuffer buffer;
        buffer.setData(bytes);
        QImageReader reader(&buffer, name.mid(6).toLatin1());
        reader.setAutoDetectImageFormat(false);
        const QImage image = reader.read();
        if (image.isNull())
            qWarning("clipboard: the offered %s image could not be decoded", qPrintable(name));
        return image;
    }
    if (!m_offered.contains(mimeType))
        return QVariant();
    const QByteArray bytes = read(mimeType);
    if (type == QVariant::List && mimeType == QLatin1String("text/uri-list")) {
        QVariantList urls;
        for (const QByteArray &line : bytes.split('\n')) {
            const QByteArray trimmed = line.trimmed();
            if (!trimmed.isEmpty() && !trimmed.startsWith('#'))
                urls.append(QUrl::fromEncoded(trimmed));
        }
        return urls;
    }
    return bytes;
}

QByteArray OfferedMimeData::read(const QString &mimeType) const
{
    const auto cached = m_read.constFind(mimeType);
    if (cached != m_read.constEnd())
        return *cached;
    if (m_silent)
        return QByteArray();
    Outcome outcome = Outcome::Failed;
    QByteArray out = transfer(mimeType, outcome);
    if (outcome != Outcome::Done)
        out.clear();
    if (outcome == Outcome::Silent)
        m_silent = true;
    m_read.insert(mimeType, out);
    return out;
}
