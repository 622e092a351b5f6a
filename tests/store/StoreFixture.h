#pragma once

#include "app/CFileManager.h"
#include "app/clipUtils.h"
#include "support/StoreHelper.h"

#include <QFile>

// Helpers for tests that work on the real database in the test's home.
namespace StoreFixture {

inline QString hashOf(int i) { return clipUtils::md5Hex(QByteArray::number(i)); }

inline History entry(int i, double timestamp, const QString &category = QStringLiteral("history"))
{
    History h;
    h.setContent(QStringLiteral("entry %1").arg(i));
    h.setFileHash(hashOf(i));
    h.setTimeStamp(timestamp);
    h.setType(QStringLiteral("text_txt+enc"));
    h.setCategory(category);
    h.setLocalFileOk(true);
    return h;
}

using StoreHelper::rows;
using StoreHelper::wipe;

// Creates the files an entry owns (files/, zip/ and, with a key, encrypt/).
inline void touchFiles(const History &h)
{
    for (const QString &path : {CFileManager::filesPath() + h.file_hash(), CFileManager::zipPath() + h.file_hash()}) {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write("x");
    }
    if (!h.cipherHash().isEmpty()) {
        QFile f(CFileManager::encryptPath() + h.cipherHash());
        f.open(QIODevice::WriteOnly);
        f.write("x");
    }
}

inline bool hasFiles(const History &h)
{
    return QFile::exists(CFileManager::filesPath() + h.file_hash())
        && QFile::exists(CFileManager::zipPath() + h.file_hash());
}

} // namespace StoreFixture
