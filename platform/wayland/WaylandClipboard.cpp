#include "platform/wayland/WaylandClipboard.h"

#include "platform/wayland/OfferMimeData.h"
#include "platform/wayland/PipeWriter.h"
#include "platform/wayland/WaylandConnection.h"

#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <QBuffer>
#include <QImage>
#include <QMimeData>

#include <wayland-client.h>

#include <csignal>
#include <unistd.h>

namespace {

const zwlr_data_control_device_v1_listener kDeviceListener = {
    &WaylandClipboard::onDataOffer, &WaylandClipboard::onSelection, &WaylandClipboard::onFinished,
    &WaylandClipboard::onPrimarySelection};
const zwlr_data_control_offer_v1_listener kOfferListener = {&WaylandClipboard::onOfferMimeType};
const zwlr_data_control_source_v1_listener kSourceListener = {&WaylandClipboard::onSend,
                                                              &WaylandClipboard::onCancelled};

const QStringList kTextFormats = {QStringLiteral("text/plain;charset=utf-8"), QStringLiteral("text/plain"),
                                  QStringLiteral("UTF8_STRING"), QStringLiteral("STRING"), QStringLiteral("TEXT")};

} // namespace

WaylandClipboard::WaylandClipboard(WaylandConnection *connection)
    : m_connection(connection)
{
    // A reader that closes its pipe early must not end the program.
    struct sigaction current = {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        std::signal(SIGPIPE, SIG_IGN);
    if (!connection->connected() || !connection->dataControl() || !connection->seat()) {
        qWarning("wayland: the compositor offers no data-control: clipboard changes cannot be seen");
        return;
    }
    m_device = zwlr_data_control_manager_v1_get_data_device(connection->dataControl(), connection->seat());
    zwlr_data_control_device_v1_add_listener(m_device, &kDeviceListener, this);
    // The current selection arrives as the first event: the content at start, not
    // a change.
    m_starting = true;
    connection->roundTrip();
    m_starting = false;
}

WaylandClipboard::~WaylandClipboard()
{
    for (Slot &slot : m_slots) {
        delete slot.incoming;
        delete slot.own;
    }
}

QString WaylandClipboard::markerPrefix()
{
    return QStringLiteral("application/x-zorvel-owner-%1-").arg(::getpid());
}

const QMimeData *WaylandClipboard::mimeData(QClipboard::Mode mode)
{
    const Slot &slot = m_slots[slotOf(mode)];
    return slot.owned ? slot.own : slot.incoming;
}

void WaylandClipboard::setMimeData(QMimeData *data, QClipboard::Mode mode)
{
    Slot &slot = m_slots[slotOf(mode)];
    if (!m_device || !m_connection->connected()) {
        qWarning("wayland: no clipboard connection; the content is not set");
        delete data;
        return;
    }
    if (mode == QClipboard::Selection
        && zwlr_data_control_device_v1_get_version(m_device) < ZWLR_DATA_CONTROL_DEVICE_V1_SET_PRIMARY_SELECTION_SINCE_VERSION) {
        delete data;
        return;
    }
    zwlr_data_control_source_v1 *source = zwlr_data_control_manager_v1_create_data_source(m_connection->dataControl());
    zwlr_data_control_source_v1_add_listener(source, &kSourceListener, this);
    slot.marker = markerPrefix() + QString::number(++m_writes);
    zwlr_data_control_source_v1_offer(source, slot.marker.toUtf8().constData());
    for (const QString &format : offeredFormats(data))
        zwlr_data_control_source_v1_offer(source, format.toUtf8().constData());
    if (mode == QClipboard::Selection)
        zwlr_data_control_device_v1_set_primary_selection(m_device, source);
    else
        zwlr_data_control_device_v1_set_selection(m_device, source);
    // The previous source of ours is replaced; readers still being served keep
    // their own copy of its bytes.
    if (slot.source)
        zwlr_data_control_source_v1_destroy(slot.source);
    slot.source = source;
    if (slot.own != data)
        delete slot.own;
    slot.own = data;
    slot.pngCache.clear();
    // Like QClipboard: the new content reads back at once; changed() follows when
    // the compositor has made it the selection.
    slot.owned = true;
    m_connection->flush();
}

QStringList WaylandClipboard::offeredFormats(const QMimeData *data)
{
    QStringList formats;
    if (data->hasText())
        formats << kTextFormats;
    if (data->hasImage())
        formats << QStringLiteral("image/png");
    for (const QString &format : data->formats()) {
        if (format != QLatin1String("application/x-qt-image") && !formats.contains(format))
            formats << format;
    }
    return formats;
}

QByteArray WaylandClipboard::payload(Slot &slot, const QString &mimeType)
{
    const QMimeData *data = slot.own;
    if (!data)
        return QByteArray();
    if (mimeType == slot.marker)
        return mimeType.toUtf8();
    if (kTextFormats.contains(mimeType) && data->hasText())
        return mimeType == QLatin1String("STRING") ? data->text().toLatin1() : data->text().toUtf8();
    if (mimeType == QLatin1String("image/png") && !data->hasFormat(mimeType) && data->hasImage()) {
        if (slot.pngCache.isEmpty()) {
            QBuffer buffer(&slot.pngCache);
            buffer.open(QIODevice::WriteOnly);
            qvariant_cast<QImage>(data->imageData()).save(&buffer, "PNG");
        }
        return slot.pngCache;
    }
    return data->data(mimeType);
}

void WaylandClipboard::selectionChanged(int index, zwlr_data_control_offer_v1 *offer)
{
    Slot &slot = m_slots[index];
    const QStringList formats = offer ? m_announced.take(offer) : QStringList();
    delete slot.incoming;
    slot.incoming = nullptr;
    if (offer && !slot.marker.isEmpty() && formats.contains(slot.marker) && slot.source) {
        // Our own write arrived; its bytes are at hand, the offer is not needed.
        zwlr_data_control_offer_v1_destroy(offer);
        slot.owned = true;
    } else {
        slot.owned = false;
        if (offer)
            slot.incoming = new OfferMimeData(m_connection->display(), offer, formats);
    }
    if (m_starting)
        return;
    const QClipboard::Mode mode = index == 1 ? QClipboard::Selection : QClipboard::Clipboard;
    // Outside the event dispatch: listeners may read the content, which talks to
    // the compositor again.
    QMetaObject::invokeMethod(this, [this, mode] { Q_EMIT changed(mode); }, Qt::QueuedConnection);
}

void WaylandClipboard::send(zwlr_data_control_source_v1 *source, const char *mimeType, int fd)
{
    for (Slot &slot : m_slots) {
        if (slot.source == source) {
            PipeWriter::start(fd, payload(slot, QString::fromUtf8(mimeType)));
            return;
        }
    }
    ::close(fd);
}

void WaylandClipboard::cancelled(zwlr_data_control_source_v1 *source)
{
    for (Slot &slot : m_slots) {
        if (slot.source == source) {
            slot.source = nullptr;
            slot.owned = false;
        }
    }
    zwlr_data_control_source_v1_destroy(source);
}

void WaylandClipboard::onDataOffer(void *data, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer)
{
    auto *self = static_cast<WaylandClipboard *>(data);
    self->m_announced.insert(offer, QStringList());
    zwlr_data_control_offer_v1_add_listener(offer, &kOfferListener, self);
}

void WaylandClipboard::onSelection(void *data, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer)
{
    static_cast<WaylandClipboard *>(data)->selectionChanged(0, offer);
}

void WaylandClipboard::onPrimarySelection(void *data, zwlr_data_control_device_v1 *,
                                          zwlr_data_control_offer_v1 *offer)
{
    static_cast<WaylandClipboard *>(data)->selectionChanged(1, offer);
}

void WaylandClipboard::onFinished(void *data, zwlr_data_control_device_v1 *device)
{
    auto *self = static_cast<WaylandClipboard *>(data);
    qWarning("wayland: the compositor ended clipboard access (the seat went away)");
    zwlr_data_control_device_v1_destroy(device);
    self->m_device = nullptr;
}

void WaylandClipboard::onOfferMimeType(void *data, zwlr_data_control_offer_v1 *offer, const char *mimeType)
{
    auto *self = static_cast<WaylandClipboard *>(data);
    const auto it = self->m_announced.find(offer);
    if (it != self->m_announced.end())
        it->append(QString::fromUtf8(mimeType));
}

void WaylandClipboard::onSend(void *data, zwlr_data_control_source_v1 *source, const char *mimeType, int32_t fd)
{
    static_cast<WaylandClipboard *>(data)->send(source, mimeType, fd);
}

void WaylandClipboard::onCancelled(void *data, zwlr_data_control_source_v1 *source)
{
    static_cast<WaylandClipboard *>(data)->cancelled(source);
}
