#pragma once

#include "platform/SystemClipboard.h"

#include <QHash>
#include <QStringList>

class OfferMimeData;
class WaylandConnection;
struct zwlr_data_control_device_v1;
struct zwlr_data_control_offer_v1;
struct zwlr_data_control_source_v1;

// The clipboard through wlroots' data-control protocol (sway, KWin): the program
// sees and sets the selection without a focused window. Its own sources carry a
// marker format naming the process and the write, by which the selection event
// of its own write is told from another program's copy.
class WaylandClipboard final : public SystemClipboard
{
    Q_OBJECT

public:
    explicit WaylandClipboard(WaylandConnection *connection);
    ~WaylandClipboard() override;

    const QMimeData *mimeData(QClipboard::Mode mode) override;
    void setMimeData(QMimeData *data, QClipboard::Mode mode) override;
    bool ownsClipboard() const override { return m_slots[0].owned; }

    // The prefix of the marker format; the rest names the process and the write.
    static QString markerPrefix();

private:
    // Clipboard and primary selection.
    struct Slot {
        OfferMimeData *incoming = nullptr;
        zwlr_data_control_source_v1 *source = nullptr;
        QMimeData *own = nullptr;
        QString marker;
        QByteArray pngCache;
        bool owned = false;
    };

    static int slotOf(QClipboard::Mode mode) { return mode == QClipboard::Selection ? 1 : 0; }
    void selectionChanged(int slot, zwlr_data_control_offer_v1 *offer);
    void send(zwlr_data_control_source_v1 *source, const char *mimeType, int fd);
    void cancelled(zwlr_data_control_source_v1 *source);
    QByteArray payload(Slot &slot, const QString &mimeType);
    static QStringList offeredFormats(const QMimeData *data);

public:
    // Protocol listeners.
    static void onDataOffer(void *data, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer);
    static void onSelection(void *data, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer);
    static void onFinished(void *data, zwlr_data_control_device_v1 *);
    static void onPrimarySelection(void *data, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer);
    static void onOfferMimeType(void *data, zwlr_data_control_offer_v1 *offer, const char *mimeType);
    static void onSend(void *data, zwlr_data_control_source_v1 *source, const char *mimeType, int32_t fd);
    static void onCancelled(void *data, zwlr_data_control_source_v1 *source);

private:

    WaylandConnection *m_connection;
    zwlr_data_control_device_v1 *m_device = nullptr;
    Slot m_slots[2];
    // Offers announced but not yet named the selection, with their formats so far.
    QHash<zwlr_data_control_offer_v1 *, QStringList> m_announced;
    quint64 m_writes = 0;
    bool m_starting = false;
};
