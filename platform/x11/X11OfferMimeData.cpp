#include "platform/x11/X11OfferMimeData.h"

#include "platform/x11/X11SelectionReader.h"

#include <QGuiApplication>

namespace {

// Targets about the selection rather than its content.
const QStringList kMetaTargets = {QStringLiteral("TARGETS"),         QStringLiteral("MULTIPLE"),
                                  QStringLiteral("TIMESTAMP"),       QStringLiteral("SAVE_TARGETS"),
                                  QStringLiteral("DELETE"),          QStringLiteral("INSERT_SELECTION"),
                                  QStringLiteral("INSERT_PROPERTY"), QStringLiteral("CLIPBOARD_MANAGER")};

QStringList contentTargets(QStringList targets)
{
    for (const QString &meta : kMetaTargets)
        targets.removeAll(meta);
    return targets;
}

} // namespace

X11OfferMimeData::X11OfferMimeData(X11SelectionReader *reader, QClipboard::Mode mode, xcb_window_t owner,
                                   const QStringList &targets)
    : OfferedMimeData(contentTargets(targets))
    , m_reader(reader)
    , m_mode(mode)
    , m_owner(owner)
{
}

X11OfferMimeData *X11OfferMimeData::fetch(X11SelectionReader *reader, QClipboard::Mode mode)
{
    const X11SelectionReader::Content content = reader->content(mode == QClipboard::Selection);
    if (content.owner == XCB_NONE)
        return nullptr;
    return new X11OfferMimeData(reader, mode, content.owner, content.targets);
}

QByteArray X11OfferMimeData::transfer(const QString &mimeType, Outcome &outcome) const
{
    const QByteArray bytes = m_reader->read(m_mode == QClipboard::Selection, m_owner, mimeType, outcome);
    if (outcome == Outcome::Failed && m_reader->broken()) {
        // Until the next change connects again.
        const QMimeData *qt = QGuiApplication::clipboard()->mimeData(m_mode);
        outcome = qt ? Outcome::Done : Outcome::Failed;
        return qt ? qt->data(mimeType) : QByteArray();
    }
    return bytes;
}
