#pragma once

#include <QByteArray>
#include <QPair>
#include <QSet>
#include <QString>
#include <QVector>

// The folder tree under ~/Documents/ZClipboard. Every accessor creates its folder
// on first use and returns the path as built (sub-folders end in "/").
class CFileManager
{
public:
    static QString rootPath();
    static QString libraryPath();
    static QString filesPath();
    static QString zipPath();
    static QString pluginsPath();
    static QString tmpPath();
    static QString encryptPath();

    // folder + hash, or empty text when hash is not 32 lower-case hex digits:
    // a hash from outside never becomes a path of its own choosing.
    static QString entryPath(const QString &folder, const QString &hash);

    // Writes data under files/<file_hash> unless that file exists already.
    // True once the entry's file is on disk (written now or earlier).
    static bool saveFile(const QByteArray &data, const QString &fileHash);
    // saveFile for each (file hash, bytes) pair; returns the hashes whose file is on
    // disk. The files are written side by side: each still reaches the disk before it
    // is renamed into place, but the flushes share the file system's journal commits
    // instead of waiting for one each (60 small files: ~30 ms rather than ~400 ms).
    static QSet<QString> saveFiles(const QVector<QPair<QString, QByteArray>> &files);
    // The bytes of files/<file_hash>, or empty bytes when missing.
    static QByteArray readFile(const QString &fileHash);

private:
    static bool writeFile(const QString &path, const QByteArray &data);
    static QString subFolder(const QString &parent, const char *name);
};
