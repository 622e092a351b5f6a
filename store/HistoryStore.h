#pragma once

#include "store/History.h"

// Store-level deletions: rows go first, then every entry file no remaining row uses.
// When the rows could not be deleted the files stay and the call returns false.
class HistoryStore
{
public:
    static bool pruneCategory(const QString &category);
    static bool clearAll();
    // Returns the number of rows removed.
    static int clearNonFavourites();
    static bool clearNonFavouritesBefore(qint64 timestamp);
    static bool deleteByHistoryId(qint64 historyId);
    static bool deleteEntry(const QString &fileHash, const QString &keyHash);
    // Removes the row of one category; its files go too when no other row uses them.
    static bool removeFromCategory(const QString &fileHash, const QString &category);
    // The files of rows taken (HistoryQueries::take...) in a caller's own
    // transaction, once that is committed, that no remaining row uses.
    static void removeUnusedFiles(const HistoryList &removed);

private:
    static void removeFiles(const QString &fileHash, const QString &cipherHash);
};
