#pragma once

#include "store/History.h"

// Store-level deletions: rows go first, then every entry file no remaining row uses.
class HistoryStore
{
public:
    static void pruneCategory(const QString &category);
    static void clearAll();
    // Returns the number of rows removed.
    static int clearNonFavourites();
    static void clearNonFavouritesBefore(qint64 timestamp);
    static void deleteByHistoryId(qint64 historyId);
    static void deleteEntry(const QString &fileHash, const QString &keyHash);
    // Removes the row of one category; its files go too when no other row uses them.
    static void removeFromCategory(const QString &fileHash, const QString &category);

private:
    static void removeUnusedFiles(const HistoryList &removed);
    static void removeFiles(const QString &fileHash, const QString &cipherHash);
};
