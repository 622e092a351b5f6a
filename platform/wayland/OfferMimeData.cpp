#include "platform/wayland/OfferMimeData.h"

#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <QDeadlineTimer>
#include <QImage>
#include <QUrl>

#include <wayland-client.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

const QString kQtText = QStringLiteral("text/plain");
const QString kQtImage = QStringLiteral("application/x-qt-image");
const QStringList kTextNames = {QStringLiteral("text/plain;charset=utf-8"), QStringLiteral("UTF8_STRING"),
                                QStringLiteral("text/plain"), QStringLiteral("STRING"), QStringLiteral("TEXT")};
const QStringList kImageNames = {QStringLiteral("image/png"), QStringLiteral("image/bmp"),
                                 QStringLiteral("image/jpeg"), QStringLiteral("image/tiff"),
                                 QStringLiteral("image/gif"), QStringLiteral("image/webp")};

} // namespace

OfferMimeData::OfferMimeData(wl_display *display, zwlr_data_control_offer_v1 *offer, const QStringList &mimeTypes)
    : m_display(display)
    , m_offer(offer)
    , m_offered(mimeTypes)
{
}

OfferMimeData::~OfferMimeData()
{
    if (m_offer)
        zwlr_data_control_offer_v1_destroy(m_offer);
}

QString OfferMimeData::firstOffered(const QStringList &candidates) const
{
    for (const QString &name : candidates) {
        if (m_offered.contains(name))
            return name;
    }
    return QString();
}

QStringList OfferMimeData::formats() const
{
    QStringList out = m_offered;
    if (!out.contains(kQtText) && !firstOffered(kTextNames).isEmpty())
        out.append(kQtText);
    if (!firstOffered(kImageNames).isEmpty())
        out.append(kQtImage);
    return out;
}

bool OfferMimeData::hasFormat(const QString &mimeType) const
{
    return formats().contains(mimeType);
}

QVariant OfferMimeData::retrieveData(const QString &mimeType, QVariant::Type type) const
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
        const QImage image = QImage::fromData(read(name));
        if (image.isNull())
            qWarning("wayland: the offered %s image could not be decoded", qPrintable(name));
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

QByteArray OfferMimeData::read(const QString &mimeType) const
{
    const auto cached = m_read.constFind(mimeType);
    if (cached != m_read.constEnd())
        return *cached;
    QByteArray out;
    int fds[2];
    if (!m_offer || m_silent || ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return out;
    zwlr_data_control_offer_v1_receive(m_offer, mimeType.toUtf8().constData(), fds[1]);
    ::close(fds[1]);
    wl_display_flush(m_display);

    // The offering program writes from its own event loop; waiting here (with a
    // deadline) is what every clipboard reader does, and only for this read.
    QDeadlineTimer deadline(kReadTimeoutMs);
    char buffer[65536];
    bool complete = false;
    while (!deadline.hasExpired()) {
        pollfd pfd{fds[0], POLLIN, 0};
        const int ready = ::poll(&pfd, 1, int(qMax<qint64>(1, deadline.remainingTime())));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n == 0) {
            complete = true;
            break;
        }
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            break;
        }
        if (out.size() + n > kMaxReadBytes) {
            qWarning("wayland: the offered \"%s\" is larger than %lld bytes; ignored", qPrintable(mimeType),
                     kMaxReadBytes);
            out.clear();
            ::close(fds[0]);
            m_read.insert(mimeType, out);
            return out;
        }
        out.append(buffer, int(n));
    }
    ::close(fds[0]);
    if (!complete) {
        qWarning("wayland: the program offering \"%s\" did not deliver it in time; ignored", qPrintable(mimeType));
        out.clear();
        m_silent = true;
    }
    m_read.insert(mimeType, out);
    return out;
}
