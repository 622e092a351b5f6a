#include "capture/EntryFiles.h"

#include "app/CFileManager.h"

#include <libdeflate.h>
#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>
#include <zlib.h>

#include <QFile>
#include <QFileInfo>

#include <memory>

namespace {

using Compressor = std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)>;

Compressor compressor(int level)
{
    return Compressor(libdeflate_alloc_compressor(level), &libdeflate_free_compressor);
}

// Raw deflate of bytes at level; empty when it failed.
QByteArray deflated(libdeflate_compressor *with, const char *bytes, qint64 size)
{
    QByteArray out(int(libdeflate_deflate_compress_bound(with, size_t(size))), Qt::Uninitialized);
    const size_t written = libdeflate_deflate_compress(with, bytes, size_t(size), out.data(), size_t(out.size()));
    out.truncate(int(written));
    return out;
}

} // namespace

// Deflate's fastest level, by libdeflate: about half the work of zlib's fastest for
// a screen image, and a smaller result. Data that does not shrink (already
// compressed files, random bytes) goes into stored blocks, level 0, which skips the
// search for matches that would find nothing. Both are plain deflate that every zip
// reader opens.
EntryFiles::Packed EntryFiles::pack(const QByteArray &bytes)
{
    Packed packed;
    packed.size = bytes.size();
    packed.crc = libdeflate_crc32(0, bytes.constData(), size_t(bytes.size()));
    Compressor fast = compressor(1);
    if (!fast)
        return packed;
    packed.level = 1;
    const int sampleSize = 64 * 1024;
    if (bytes.size() > sampleSize) {
        const QByteArray sample = deflated(fast.get(), bytes.constData(), sampleSize);
        if (sample.isEmpty() || sample.size() * 10 > sampleSize * 9)
            packed.level = 0;
    }
    Compressor chosen = packed.level == 1 ? std::move(fast) : compressor(0);
    if (!chosen)
        return packed;
    packed.deflated = deflated(chosen.get(), bytes.constData(), bytes.size());
    packed.ok = !packed.deflated.isEmpty();
    return packed;
}

qint64 EntryFiles::compress(const QString &hash, const QByteArray &bytes)
{
    const QString target = CFileManager::entryPath(CFileManager::zipPath(), hash);
    if (!target.isEmpty() && QFile::exists(target))
        return QFileInfo(target).size();
    return store(hash, pack(bytes));
}

qint64 EntryFiles::store(const QString &hash, const Packed &packed)
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
        if (!packed.ok || !writeArchive(partial, source, packed) || !QFile::rename(partial, target)) {
            QFile::remove(partial);
            qWarning("capture: could not compress entry %s", qPrintable(hash));
        }
    }
    return QFileInfo(target).size();
}

bool EntryFiles::writeArchive(const QString &archive, const QString &source, const Packed &packed)
{
    QuaZip zip(archive);
    if (!zip.open(QuaZip::mdCreate))
        return false;
    QuaZipFile entry(&zip);
    // Named <hash>, with the stored file's time and permissions. The bytes are
    // deflated already: the entry takes them as they are, with their size and CRC.
    QuaZipNewInfo info(QFileInfo(source).fileName(), source);
    info.uncompressedSize = ulong(packed.size);
    bool ok = entry.open(QIODevice::WriteOnly, info, nullptr, packed.crc, Z_DEFLATED, packed.level, true)
        && entry.write(packed.deflated) == packed.deflated.size();
    entry.close();
    ok = ok && entry.getZipError() == ZIP_OK;
    zip.close();
    return ok && zip.getZipError() == ZIP_OK;
}
