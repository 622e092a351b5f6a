#include "app/CFileManager.h"

#include "app/clipUtils.h"
#include "store/History.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

QString CFileManager::rootPath()
{
    const QString path = clipUtils::documentsPath() + QStringLiteral("/ZClipboard");
    QDir dir(path);
    if (!dir.exists())
        dir.mkpath(QStringLiteral("."));
    return path;
}

QString CFileManager::subFolder(const QString &parent, const char *name)
{
    const QString path = parent + QLatin1String(name);
    QDir dir(path);
    if (!dir.exists())
        QDir(parent).mkdir(QLatin1String(name));
    return path;
}

QString CFileManager::libraryPath()
{
    const QString root = rootPath() + QLatin1Char('/');
    return subFolder(root, "Library") + QLatin1Char('/');
}

QString CFileManager::filesPath() { return subFolder(libraryPath(), "files") + QLatin1Char('/'); }
QString CFileManager::zipPath() { return subFolder(libraryPath(), "zip") + QLatin1Char('/'); }
QString CFileManager::pluginsPath() { return subFolder(libraryPath(), "plugins") + QLatin1Char('/'); }
QString CFileManager::tmpPath() { return subFolder(libraryPath(), "tmp") + QLatin1Char('/'); }
QString CFileManager::encryptPath() { return subFolder(libraryPath(), "encrypt") + QLatin1Char('/'); }

QString CFileManager::entryPath(const QString &folder, const QString &hash)
{
    if (!clipUtils::isFileHash(hash))
        return QString();
    return folder + hash;
}

bool CFileManager::saveFile(const QByteArray &data, const History &record)
{
    const QString path = entryPath(filesPath(), record.file_hash());
    if (path.isEmpty()) {
        qWarning("saveFile: refused an invalid file hash");
        return false;
    }
    // An empty file where bytes belong is what a full disk left behind: written again.
    const QFileInfo existing(path);
    if (existing.exists() && (existing.size() > 0 || data.isEmpty()))
        return true;
    // Written aside and renamed: a full disk leaves no half file that would then
    // never be rewritten.
    QSaveFile file(path);
    // A small write sits in the buffer and fails (disk full) only when flushed; the
    // commit does not look at that failure and would rename an empty file into place.
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.flush() || !file.commit()) {
        qWarning("saveFile: could not write %s: %s", qPrintable(path), qPrintable(file.errorString()));
        return false;
    }
    return true;
}

QByteArray CFileManager::readFile(const History &record)
{
    const QString path = entryPath(filesPath(), record.file_hash());
    if (path.isEmpty())
        return QByteArray();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}
