#include "platform/SystemClipboard.h"
#include "platform/x11/X11Backend.h"
#include "platform/x11/X11OfferMimeData.h"
#include "platform/x11/X11SelectionReader.h"

#include <QGuiApplication>
#include <QMimeData>
#include <QPointer>

namespace {

// Changes are seen through Qt (XFixes, no read) and the program writes through Qt;
// other programs' content is read through a connection of our own, so a read
// neither waits on Qt's event thread nor loads image plugins to list the formats.
class X11Clipboard final : public SystemClipboard
{
public:
    X11Clipboard()
        : m_ownReader(QGuiApplication::platformName() == QLatin1String("xcb"))
    {
        connect(QGuiApplication::clipboard(), &QClipboard::changed, this, [this](QClipboard::Mode mode) {
            if (mode == QClipboard::Clipboard || mode == QClipboard::Selection)
                drop(m_slots[slotOf(mode)]);
            Q_EMIT changed(mode);
        });
    }
    ~X11Clipboard() override
    {
        for (Slot &slot : m_slots)
            delete slot.offer;
    }

    const QMimeData *mimeData(QClipboard::Mode mode) override
    {
        QClipboard *qt = QGuiApplication::clipboard();
        const bool own = mode == QClipboard::Selection ? qt->ownsSelection() : qt->ownsClipboard();
        if (!m_ownReader || mode == QClipboard::FindBuffer || own)
            return qt->mimeData(mode);
        Slot &slot = m_slots[slotOf(mode)];
        if (!slot.fetched) {
            // Once per change, the first time it is asked for.
            slot.fetched = true;
            if (m_reader.connect())
                slot.offer = X11OfferMimeData::fetch(&m_reader, mode);
            else
                slot.throughQt = true;
        }
        return slot.throughQt ? qt->mimeData(mode) : slot.offer;
    }
    void setMimeData(QMimeData *data, QClipboard::Mode mode) override
    {
        QGuiApplication::clipboard()->setMimeData(data, mode);
    }
    bool ownsClipboard() const override { return QGuiApplication::clipboard()->ownsClipboard(); }

private:
    struct Slot {
        X11OfferMimeData *offer = nullptr;
        bool fetched = false;
        bool throughQt = false;
    };
    static int slotOf(QClipboard::Mode mode) { return mode == QClipboard::Selection ? 1 : 0; }
    static void drop(Slot &slot)
    {
        // A caller may still hold it while this change is announced.
        if (slot.offer)
            slot.offer->deleteLater();
        slot = Slot();
    }

    const bool m_ownReader;
    X11SelectionReader m_reader;
    Slot m_slots[2];
};

} // namespace

SystemClipboard *X11Backend::clipboard()
{
    static X11Clipboard *clipboard = new X11Clipboard; // lives as long as Qt's clipboard
    return clipboard;
}
