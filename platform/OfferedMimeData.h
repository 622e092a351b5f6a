#pragma once

#include <QHash>
#include <QMimeData>
#include <QStringList>

// Another program's clipboard content, read from it on first use of each format and
// kept. Text and images also answer under Qt's own names ("text/plain" and
// "application/x-qt-image"), so callers read them as from QClipboard; which image
// formats count is a fixed list, so that listing them loads no image plugin.
// Subclasses supply the transport: one read of one offered format.
class OfferedMimeData : public QMimeData
{
    Q_OBJECT

public:
    explicit OfferedMimeData(const QStringList &offered);

    QStringList formats() const override;
    bool hasFormat(const QString &mimeType) const override;

    // Longest a single read may wait for the offering program.
    static constexpr int kReadTimeoutMs = 3000;
    // More than this is refused: a program could offer an endless stream.
    static constexpr qint64 kMaxReadBytes = 64 * 1024 * 1024;

    // How a read ended; Silent: the offering program let it time out.
    enum class Outcome { Done, Failed, Silent };

protected:
    QVariant retrieveData(const QString &mimeType, QVariant::Type type) const override;

    // The bytes of one offered format; empty on failure, which the transport logs.
    virtual QByteArray transfer(const QString &mimeType, Outcome &outcome) const = 0;

private:
    QByteArray read(const QString &mimeType) const;
    QString firstOffered(const QStringList &candidates) const;

    QStringList m_offered;
    mutable QHash<QString, QByteArray> m_read;
    // The offering program let a read time out: it is not asked again, so one
    // silent program costs one wait, not one per format.
    mutable bool m_silent = false;
};
