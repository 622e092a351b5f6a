#pragma once

#include "platform/OfferedMimeData.h"

#include <QClipboard>

#include <xcb/xproto.h>

class X11SelectionReader;

// Another program's selection content on X11, read through the program's own
// connection. When that connection breaks, a read goes through Qt's clipboard.
class X11OfferMimeData final : public OfferedMimeData
{
    Q_OBJECT

public:
    // The current content of mode's selection; null when nobody owns it.
    static X11OfferMimeData *fetch(X11SelectionReader *reader, QClipboard::Mode mode);

protected:
    QByteArray transfer(const QString &mimeType, Outcome &outcome) const override;

private:
    X11OfferMimeData(X11SelectionReader *reader, QClipboard::Mode mode, xcb_window_t owner, const QStringList &targets);

    X11SelectionReader *m_reader;
    QClipboard::Mode m_mode;
    xcb_window_t m_owner;
};
