#include "capture/EntryFiles.h"

#include "app/CFileManager.h"

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>
#include <zlib.h>

#include <QFile>
#include <QFileInfo>

namespace {

// Deflate's fastest level; data that does not shrink (already compressed
// files, random bytes) goes into deflate's stored blocks, level 0, which skips the
// search for matches that would find nothing. Either opens in every zip reader.
int deflateLevel(const QByteArray &bytes)
{
    const int sampleSize = 64 * 1024;
    if (bytes.size() <= sampleSize)
        return Z_BEST_SPEED;
    const QByteArray sample = bytes.left(sampleSize);
    const QByteArray packed = qCompress(sample, Z_BEST_SPEED);
    return packed.size() * 10 > sample.size() * 9 ? Z_NO_COMPRESSION : Z_BEST_SPEED;
}

} // namespace

qint64 EntryFiles::compress(const QString &hash, const QByteArray &bytes, Content content)
{
    const QString source = CFileManager::entryPath(CFileManager::filesPath(), hash);
    const QString target = CFileManager::entryPath(CFileManager::zipPath(), hash);
    if (source.isEmpty())
        return 0;
    if (!QFile::exists(target)) {
        // Compressed aside and renamed: an interrupted run leaves no truncated
        // archive in zip/.
        const QString partial = target + QStringLiteral(".part");
        QFile::remove(partial);
        if (!writeArchive(partial, source, bytes, content) || !QFile::rename(partial, target)) {
            QFile::remove(partial);
            qWarning("capture: could not compress entry %s", qPrintable(hash));
        }
    }
    return QFileInfo(target).size();
}

bool EntryFiles::writeArchive(const QString &archive, const QString &source, const QByteArray &bytes,
                              Content content)
{
    QuaZip zip(archive);
    if (!zip.open(QuaZip::mdCreate))
        return false;
    QuaZipFile entry(&zip);
    // Named <hash>, with the stored file's time and permissions.
    const QuaZipNewInfo info(QFileInfo(source).fileName(), source);
    // An uncompressed image of a screen shrinks mostly by its runs of equal pixels:
    // looking for runs only takes half the time of deflate's match search, for a
    // somewhat larger copy that every zip reader opens the same way.
    const int strategy = content == Content::Image ? Z_RLE : Z_DEFAULT_STRATEGY;
    bool ok = entry.open(QIODevice::WriteOnly, info, nullptr, 0, Z_DEFLATED, deflateLevel(bytes), false, -MAX_WBITS,
                         DEF_MEM_LEVEL, strategy)
        && entry.write(bytes) == bytes.size();
    entry.close();
    ok = ok && entry.getZipError() == ZIP_OK;
    zip.close();
    return ok && zip.getZipError() == ZIP_OK;
}
