#include "store/HistoryStore.h"

#include "app/CFileManager.h"
#include "store/HistoryQueries.h"

#include <QFile>

void HistoryStore::removeFiles(const QString &fileHash, const QString &cipherHash)
{
    // entryPath() refuses anything but an MD5 digest, so a stored hash such as
    // "../x" can never point the deletion outside the folder tree.
    const QString file = CFileManager::entryPath(CFileManager::filesPath(), fileHash);
    if (file.isEmpty())
        return;
    QFile::remove(file);
    QFile::remove(CFileManager::entryPath(CFileManager::zipPath(), fileHash));
    if (!cipherHash.isEmpty())
        QFile::remove(CFileManager::entryPath(CFileManager::encryptPath(), cipherHash));
}

void HistoryStore::removeUnusedFiles(const HistoryList &removed)
{
    for (const History &record : removed) {
        if (HistoryQueries::hashInUse(record.file_hash()))
            continue;
        removeFiles(record.file_hash(), record.cipherHash());
    }
}

void HistoryStore::pruneCategory(const QString &category)
{
    removeUnusedFiles(HistoryQueries::takeBeyondLimit(category));
}

void HistoryStore::clearAll()
{
    removeUnusedFiles(HistoryQueries::takeAll());
}

int HistoryStore::clearNonFavourites()
{
    const HistoryList removed = HistoryQueries::takeNonFavourites();
    removeUnusedFiles(removed);
    return removed.size();
}

void HistoryStore::clearNonFavouritesBefore(qint64 timestamp)
{
    removeUnusedFiles(HistoryQueries::takeNonFavouritesBefore(timestamp));
}

void HistoryStore::deleteByHistoryId(qint64 historyId)
{
    // Files still used by another row (the same content kept as a favourite under
    // another id) stay: deleting them would leave that row without its content.
    removeUnusedFiles(HistoryQueries::takeByHistoryId(historyId));
}

void HistoryStore::deleteEntry(const QString &fileHash, const QString &keyHash)
{
    HistoryQueries::removeByHash(fileHash);
    removeFiles(fileHash, keyHash.isEmpty() ? QString() : History::joinHash(fileHash, keyHash));
}

void HistoryStore::removeFromCategory(const QString &fileHash, const QString &category)
{
    History record;
    record.setFileHash(fileHash);
    record.setCategory(category);
    if (!record.exists())
        return;
    record.load();
    HistoryQueries::remove(fileHash, category);
    removeUnusedFiles({record});
}
