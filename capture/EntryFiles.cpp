#include "capture/EntryFiles.h"

#include "app/CFileManager.h"

#include <JlCompress.h>

#include <QFile>
#include <QFileInfo>

bool EntryFiles::storeCopy(const QString &source, const QString &hash)
{
    const QString target = CFileManager::entryPath(CFileManager::filesPath(), hash);
    if (target.isEmpty())
        return false;
    // QFile::copy writes a temporary file and renames it, so a failed copy leaves
    // no partial file behind that would never be rewritten.
    if (!QFile::exists(target) && !QFile::copy(source, target)) {
        qWarning("capture: could not copy %s into the library", qPrintable(source));
        return false;
    }
    compress(hash);
    return true;
}

qint64 EntryFiles::compress(const QString &hash)
{
    const QString source = CFileManager::entryPath(CFileManager::filesPath(), hash);
    const QString target = CFileManager::entryPath(CFileManager::zipPath(), hash);
    if (source.isEmpty())
        return 0;
    if (!QFile::exists(target)) {
        // Compressed aside and renamed: the archive's only entry keeps the name
        // <hash>, and an interrupted run leaves no truncated archive in zip/.
        const QString partial = target + QStringLiteral(".part");
        QFile::remove(partial);
        if (!JlCompress::compressFile(partial, source) || !QFile::rename(partial, target)) {
            QFile::remove(partial);
            qWarning("capture: could not compress entry %s", qPrintable(hash));
        }
    }
    return QFileInfo(target).size();
}
