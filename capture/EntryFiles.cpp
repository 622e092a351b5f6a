#include "capture/EntryFiles.h"

#include "app/CFileManager.h"

#include <libdeflate.h>
#include <zlib.h>

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <future>
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

// The first part of a deflate stream split in two, by zlib: its blocks end on a
// byte boundary and none is marked final, so the second part's stream simply
// follows. Runs of equal bytes only: the search for them takes half the time of
// zlib's full match search, which on a screen image finds little more.
QByteArray deflatedHead(const char *bytes, qint64 size)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8 /* zlib's default memory level */, Z_RLE) != Z_OK)
        return QByteArray();
    // A sync flush adds an empty stored block to the bound of a finished stream.
    QByteArray out(int(deflateBound(&stream, uLong(size))) + 64, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes));
    stream.avail_in = uInt(size);
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const bool ok = deflate(&stream, Z_SYNC_FLUSH) == Z_OK && stream.avail_in == 0 && stream.avail_out > 0;
    out.truncate(ok ? int(stream.total_out) : 0);
    deflateEnd(&stream);
    return out;
}

// Below this an image is deflated in one piece: a second thread would not pay.
constexpr qint64 kSplitSize = 1024 * 1024;

} // namespace

// Deflate's fastest level, by libdeflate: about half the work of zlib's fastest for
// a screen image, and a smaller result. Data that does not shrink (already
// compressed files, random bytes) goes into stored blocks, level 0, which skips the
// search for matches that would find nothing. Both are plain deflate that every zip
// reader opens.
EntryFiles::Packed EntryFiles::pack(const QByteArray &bytes, Content content, const std::function<QString()> &hashOnceStored)
{
    Packed packed;
    packed.size = bytes.size();
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
    // A third by zlib on a second thread, the rest by libdeflate here: about even
    // while the caller hashes the bytes on a thread of its own. The CRC goes to the
    // second thread as well, so that the longer part starts at once, and so does
    // the archive's start: written meanwhile, it leaves only the rest for after.
    const qint64 headSize = content == Content::Image && packed.level == 1 && bytes.size() >= kSplitSize
        ? bytes.size() / 3
        : 0;
    const auto crc = [&bytes] { return libdeflate_crc32(0, bytes.constData(), size_t(bytes.size())); };
    std::future<QByteArray> head;
    if (headSize > 0) {
        head = std::async(std::launch::async, [&packed, &crc, &bytes, &hashOnceStored, headSize] {
            packed.crc = crc();
            QByteArray part = deflatedHead(bytes.constData(), headSize);
            const QString hash = part.isEmpty() || !hashOnceStored ? QString() : hashOnceStored();
            if (!hash.isEmpty()) {
                auto archive = std::make_shared<EntryArchive>();
                if (archive->open(hash, packed.crc, packed.size, packed.level) && archive->append(part)) {
                    packed.archive = archive;
                    packed.written = 1;
                }
            }
            return part;
        });
    } else {
        packed.crc = crc();
    }
    const QByteArray tail = deflated(chosen.get(), bytes.constData() + headSize, bytes.size() - headSize);
    if (head.valid())
        packed.deflated.append(head.get());
    packed.deflated.append(tail);
    packed.ok = std::all_of(packed.deflated.cbegin(), packed.deflated.cend(),
                            [](const QByteArray &part) { return !part.isEmpty(); });
    return packed;
}

qint64 EntryFiles::compress(const QString &hash, const QByteArray &bytes, Content content)
{
    const QString target = CFileManager::entryPath(CFileManager::zipPath(), hash);
    if (!target.isEmpty() && QFile::exists(target))
        return QFileInfo(target).size();
    return store(hash, pack(bytes, content));
}

qint64 EntryFiles::store(const QString &hash, const Packed &packed)
{
    const QString target = CFileManager::entryPath(CFileManager::zipPath(), hash);
    if (target.isEmpty())
        return 0;
    if (!QFile::exists(target)) {
        // Compressed aside and renamed: an interrupted run leaves no truncated
        // archive in zip/.
        const bool begun = packed.archive && packed.archive->isOpen() && packed.archive->hash() == hash;
        EntryArchive fresh;
        EntryArchive &archive = begun ? *packed.archive : fresh;
        bool ok = packed.ok && (begun || archive.open(hash, packed.crc, packed.size, packed.level));
        for (int i = begun ? packed.written : 0; ok && i < packed.deflated.size(); ++i)
            ok = archive.append(packed.deflated.at(i));
        if (!ok || !archive.finish())
            qWarning("capture: could not compress entry %s", qPrintable(hash));
    }
    return QFileInfo(target).size();
}
