#include "capture/EntryArchive.h"

#include "app/CFileManager.h"

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>
#include <zlib.h>

#include <QFile>
#include <QFileInfo>

EntryArchive::EntryArchive() = default;

EntryArchive::~EntryArchive()
{
    discard();
}

bool EntryArchive::open(const QString &hash, quint32 crc, qint64 size, int level)
{
    discard();
    const QString source = CFileManager::entryPath(CFileManager::filesPath(), hash);
    const QString target = CFileManager::entryPath(CFileManager::zipPath(), hash);
    if (source.isEmpty())
        return false;
    m_hash = hash;
    m_partial = target + QStringLiteral(".part");
    QFile::remove(m_partial);
    m_zip = std::make_unique<QuaZip>(m_partial);
    if (!m_zip->open(QuaZip::mdCreate)) {
        discard();
        return false;
    }
    m_entry = std::make_unique<QuaZipFile>(m_zip.get());
    // Named <hash>, with the stored file's time and permissions. The bytes are
    // deflated already: the entry takes them as they are, with their size and CRC.
    QuaZipNewInfo info(QFileInfo(source).fileName(), source);
    info.uncompressedSize = ulong(size);
    m_ok = m_entry->open(QIODevice::WriteOnly, info, nullptr, crc, Z_DEFLATED, level, true);
    if (!m_ok)
        discard();
    return m_ok;
}

bool EntryArchive::append(const QByteArray &deflated)
{
    m_ok = m_ok && m_entry->write(deflated) == deflated.size();
    return m_ok;
}

bool EntryArchive::finish()
{
    if (!m_ok) {
        discard();
        return false;
    }
    m_entry->close();
    bool ok = m_entry->getZipError() == ZIP_OK;
    m_zip->close();
    ok = ok && m_zip->getZipError() == ZIP_OK;
    const QString target = CFileManager::entryPath(CFileManager::zipPath(), m_hash);
    ok = ok && QFile::rename(m_partial, target);
    if (ok)
        m_partial.clear();
    discard();
    return ok;
}

void EntryArchive::discard()
{
    m_ok = false;
    m_entry.reset();
    m_zip.reset();
    if (!m_partial.isEmpty())
        QFile::remove(m_partial);
    m_partial.clear();
}
