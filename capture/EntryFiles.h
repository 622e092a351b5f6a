#pragma once

#include <QString>

// The stored copies of image and file entries: files/<hash> and its compressed
// copy zip/<hash>. Existing copies are never rewritten.
class EntryFiles
{
public:
    // Copies source to files/<hash>, then compresses it into zip/<hash>; false when
    // files/<hash> could not be written.
    static bool storeCopy(const QString &source, const QString &hash);
    // Compresses files/<hash> into zip/<hash> (one entry named <hash>) unless that
    // exists; returns the size of the compressed copy (0 when there is none).
    static qint64 compress(const QString &hash);
};
