#pragma once

#include <QString>

#include <memory>

class QuaZip;
class QuaZipFile;

// zip/<hash> written part by part: created aside as zip/<hash>.part, its one entry
// <hash> taking deflated bytes as they come, renamed into place by finish(). One
// not finished leaves nothing behind. Used by one thread at a time.
class EntryArchive
{
public:
    EntryArchive();
    ~EntryArchive();
    EntryArchive(const EntryArchive &) = delete;
    EntryArchive &operator=(const EntryArchive &) = delete;

    // Starts the entry for size bytes with that CRC, deflated at level, with the
    // time and permissions of files/<hash>. False when it cannot be created.
    bool open(const QString &hash, quint32 crc, qint64 size, int level);
    bool isOpen() const { return m_ok; }
    const QString &hash() const { return m_hash; }
    // Adds the next part of the one deflate stream.
    bool append(const QByteArray &deflated);
    // True once zip/<hash> is in place.
    bool finish();

private:
    void discard();

    QString m_hash;
    QString m_partial;
    std::unique_ptr<QuaZip> m_zip;
    std::unique_ptr<QuaZipFile> m_entry;
    bool m_ok = false;
};
