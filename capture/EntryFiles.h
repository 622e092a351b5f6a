#pragma once

#include "capture/EntryArchive.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>

// The compressed copy zip/<hash> of an image or file entry's files/<hash>. Existing
// copies are never rewritten.
class EntryFiles
{
public:
    // An entry's bytes deflated, ready to be put into zip/<hash>. Making it needs no
    // hash, so it can run while the hash is being taken elsewhere.
    struct Packed {
        // One deflate stream, in parts written one after the other.
        QVector<QByteArray> deflated;
        quint32 crc = 0;
        qint64 size = 0;
        int level = 0;
        bool ok = false;
        // zip/<hash> begun with the first `written` parts while the rest was
        // being deflated; none when the hash came too late or there was one part.
        std::shared_ptr<EntryArchive> archive;
        int written = 0;
    };
    // A large image is deflated in two parts side by side, on this thread and a
    // second one.
    enum class Content { File, Image };
    // With hashOnceStored, the first part goes into zip/<hash> as soon as it is
    // deflated and the bytes are stored as files/<hash>: hashOnceStored waits for
    // that and gives the hash, or empty text when the bytes are not stored.
    static Packed pack(const QByteArray &bytes, Content content = Content::File,
                       const std::function<QString()> &hashOnceStored = {});
    // Puts packed (made from the content of files/<hash>) into zip/<hash>, an
    // archive with the one entry <hash>, unless that exists; returns the size of
    // the compressed copy (0 when there is none). Safe from any thread.
    static qint64 store(const QString &hash, const Packed &packed);
    // pack() and store() in one, packing only when zip/<hash> is missing.
    static qint64 compress(const QString &hash, const QByteArray &bytes, Content content = Content::File);
};
