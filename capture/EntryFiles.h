#pragma once

#include <QByteArray>
#include <QString>

// The compressed copy zip/<hash> of an image or file entry's files/<hash>. Existing
// copies are never rewritten.
class EntryFiles
{
public:
    // Compresses bytes (the content of files/<hash>) into zip/<hash>, an archive
    // with the one entry <hash>, unless that exists; returns the size of the
    // compressed copy (0 when there is none). Safe from any thread.
    enum class Content { File, Image };
    static qint64 compress(const QString &hash, const QByteArray &bytes, Content content = Content::File);

private:
    static bool writeArchive(const QString &archive, const QString &source, const QByteArray &bytes, Content content);
};
