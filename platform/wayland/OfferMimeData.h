#pragma once

#include <QHash>
#include <QMimeData>
#include <QStringList>

struct wl_display;
struct zwlr_data_control_offer_v1;

// Another program's clipboard content as offered through data-control. Formats
// are read on first use, each through a pipe the offering program writes, and kept.
// Text and images also answer under Qt's own names ("text/plain" and
// "application/x-qt-image"), so callers read them as from QClipboard.
class OfferMimeData final : public QMimeData
{
    Q_OBJECT

public:
    // Takes ownership of offer.
    OfferMimeData(wl_display *display, zwlr_data_control_offer_v1 *offer, const QStringList &mimeTypes);
    ~OfferMimeData() override;

    QStringList formats() const override;
    bool hasFormat(const QString &mimeType) const override;

    // Longest a single read may wait for the offering program.
    static constexpr int kReadTimeoutMs = 3000;
    // More than this is refused: a program could offer an endless stream.
    static constexpr qint64 kMaxReadBytes = 64 * 1024 * 1024;

protected:
    QVariant retrieveData(const QString &mimeType, QVariant::Type type) const override;

private:
    QByteArray read(const QString &mimeType) const;
    QString firstOffered(const QStringList &candidates) const;

    wl_display *m_display;
    zwlr_data_control_offer_v1 *m_offer;
    QStringList m_offered;
    mutable QHash<QString, QByteArray> m_read;
    // The offering program let a read time out: it is not asked again, so one
    // silent program costs one wait, not one per format.
    mutable bool m_silent = false;
};
