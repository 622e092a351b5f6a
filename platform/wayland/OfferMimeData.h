#pragma once

#include "platform/OfferedMimeData.h"

struct wl_display;
struct zwlr_data_control_offer_v1;

// Another program's clipboard content as offered through data-control: each format
// is read through a pipe the offering program writes.
class OfferMimeData final : public OfferedMimeData
{
    Q_OBJECT

public:
    // Takes ownership of offer.
    OfferMimeData(wl_display *display, zwlr_data_control_offer_v1 *offer, const QStringList &mimeTypes);
    ~OfferMimeData() override;

protected:
    QByteArray transfer(const QString &mimeType, Outcome &outcome) const override;

private:
    wl_display *m_display;
    zwlr_data_control_offer_v1 *m_offer;
};
