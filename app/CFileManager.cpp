#include "app/CFileManager.h"

#include "app/clipUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRunnable>
#include <QSaveFile>
#include <QThreadPool>

#include <vector>

namespace {

// Writers of saveFiles: enough for the journal to gather their flushes into a few
// commits, few enough not to crowd a small machine.
constexpr int kParallelWriters = 8;

} // namespace

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

bool CFileManager::saveFile(const QByteArray &data, const QString &fileHash)
{
    const QString path = entryPath(filesPath(), fileHash);
    if (path.isEmpty()) {
        qWarning("saveFile: refused an invalid file hash");
        return false;
    }
    return writeFile(path, data);
}

QSet<QString> CFileManager::saveFiles(const QVector<QPair<QString, QByteArray>> &files)
{
    // Paths are made here: the writers touch nothing but their own file.
    const QString folder = filesPath();
    QVector<QString> paths;
    paths.reserve(files.size());
    for (const auto &file : files) {
        paths.append(entryPath(folder, file.first));
        if (paths.constLast().isEmpty())
            qWarning("saveFiles: refused an invalid file hash");
    }
    std::vector<char> written(static_cast<std::size_t>(files.size()), 0);
    {
        QThreadPool writers;
        writers.setMaxThreadCount(kParallelWriters);
        for (int i = 0; i < files.size(); ++i) {
            if (paths.at(i).isEmpty())
                continue;
            writers.start(QRunnable::create([&, i] { written[static_cast<std::size_t>(i)] = writeFile(paths.at(i), files.at(i).second); }));
        }
        writers.waitForDone();
    }
    QSet<QString> done;
    for (int i = 0; i < files.size(); ++i) {
        if (written[static_cast<std::size_t>(i)])
            done.insert(files.at(i).first);
    }
    return done;
}

bool CFileManager::writeFile(const QString &path, const QByteArray &data)
{
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

QByteArray CFileManager::readFile(const QString &fileHash)
{
    const QString path = entryPath(filesPath(), fileHash);
    if (path.isEmpty())
        return QByteArray();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}
