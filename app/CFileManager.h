#pragma once

#include <QByteArray>
#include <QString>

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
    // The bytes of files/<file_hash>, or empty bytes when missing.
    static QByteArray readFile(const QString &fileHash);

private:
    static QString subFolder(const QString &parent, const char *name);
};
