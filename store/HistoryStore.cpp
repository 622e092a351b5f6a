#include "store/HistoryStore.h"

#include "app/CFileManager.h"
#include "store/HistoryQueries.h"
#include "store/SqlQuery.h"

#include <QFile>

namespace {

// The entry folders, looked up once for a whole batch of deletions.
struct EntryFolders {
    QString files = CFileManager::filesPath();
    QString zip = CFileManager::zipPath();
    QString encrypt = CFileManager::encryptPath();

    void remove(const QString &fileHash, const QString &cipherHash) const
    {
        // entryPath() refuses anything but an MD5 digest, so a stored hash such as
        // "../x" can never point the deletion outside the folder tree.
        const QString file = CFileManager::entryPath(files, fileHash);
        if (file.isEmpty())
            return;
        QFile::remove(file);
        QFile::remove(CFileManager::entryPath(zip, fileHash));
        if (!cipherHash.isEmpty())
            QFile::remove(CFileManager::entryPath(encrypt, cipherHash));
    }
};

} // namespace

void HistoryStore::removeFiles(const QString &fileHash, const QString &cipherHash)
{
    EntryFolders().remove(fileHash, cipherHash);
}

void HistoryStore::removeUnusedFiles(const HistoryList &removed)
{
    if (removed.isEmpty())
        return;
    // One statement and one folder lookup for the batch: a first sync prunes hundreds.
    const EntryFolders folders;
    SqlQuery inUse(QStringLiteral("SELECT COUNT (*) FROM History where file_hash is :file_hash"));
    for (const History &record : removed) {
        inUse.bind(QStringLiteral(":file_hash"), record.file_hash());
        // When the check fails the files stay: a row may still need them.
        if (!inUse.exec() || !inUse.next() || inUse.value(0).toLongLong() != 0)
            continue;
        folders.remove(record.file_hash(), record.cipherHash());
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
