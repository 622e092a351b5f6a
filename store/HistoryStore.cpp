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

bool HistoryStore::pruneCategory(const QString &category)
{
    bool ok = false;
    removeUnusedFiles(HistoryQueries::takeBeyondLimit(category, &ok));
    return ok;
}

bool HistoryStore::clearAll()
{
    bool ok = false;
    removeUnusedFiles(HistoryQueries::takeAll(&ok));
    return ok;
}

int HistoryStore::clearNonFavourites()
{
    const HistoryList removed = HistoryQueries::takeNonFavourites();
    removeUnusedFiles(removed);
    return removed.size();
}

bool HistoryStore::clearNonFavouritesBefore(qint64 timestamp)
{
    bool ok = false;
    removeUnusedFiles(HistoryQueries::takeNonFavouritesBefore(timestamp, &ok));
    return ok;
}

bool HistoryStore::deleteByHistoryId(qint64 historyId)
{
    // Files still used by another row (the same content kept as a favourite under
    // another id) stay: deleting them would leave that row without its content.
    bool ok = false;
    removeUnusedFiles(HistoryQueries::takeByHistoryId(historyId, &ok));
    return ok;
}

bool HistoryStore::deleteEntry(const QString &fileHash, const QString &keyHash)
{
    if (!HistoryQueries::removeByHash(fileHash))
        return false;
    removeFiles(fileHash, keyHash.isEmpty() ? QString() : History::joinHash(fileHash, keyHash));
    return true;
}

bool HistoryStore::removeFromCategory(const QString &fileHash, const QString &category)
{
    History record;
    record.setFileHash(fileHash);
    record.setCategory(category);
    if (!record.exists())
        return true;
    record.load();
    if (!HistoryQueries::remove(fileHash, category))
        return false;
    removeUnusedFiles({record});
    return true;
}
