#pragma once

#include "store/History.h"

#include <QVariantMap>

// Every static read and write of the History table. All values are bound.
class HistoryQueries
{
public:
    static bool exists(const QString &fileHash, const QString &category);
    static bool hashInUse(const QString &fileHash);
    static bool remove(const QString &fileHash, const QString &category);
    static bool removeByHash(const QString &fileHash);
    static void unsetSecret(const QString &fileHash);
    static void setLocalFileOk(const QString &fileHash);
    // An empty keyHash stores the text "NULL", as older versions did.
    static void setFileReady(bool ready, const QString &keyHash, const QString &fileHash);
    static void setFavourite(qint64 favourite, const QString &fileHash);
    static void setFavouriteMark(qint64 favourite, const QString &fileHash);
    static void setTimestamp(qint64 timestamp, const QString &fileHash);
    static void resetUpload(const QString &fileHash);
    static void resetForKey(const QString &keyHash);
    static void removeWithoutFiles();
    // Rows of the category whose file is not on this device.
    static HistoryList withoutLocalFile(const QString &category);

    static HistoryPtr nextFileTransfer();
    static HistoryPtr nextPushHistory();
    static HistoryPtr nextPushFavourite();
    static HistoryPtr findByHistoryId(qint64 historyId, const QString &category);

    static HistoryList list(const QString &category);
    static HistoryList listHistory();
    static HistoryList listFavourite();
    static HistoryList listByType(const QString &category, const QString &typePattern);
    static HistoryList textSince(qint64 timestamp);
    // history_id (decimal text) -> {"favourite": mark} of every marked favourite.
    static QVariantMap favouriteMarks();

    static HistoryList takeBeyondLimit(const QString &category);
    static HistoryList takeAll();
    static HistoryList takeNonFavourites();
    static HistoryList takeNonFavouritesBefore(qint64 timestamp);
    static HistoryList takeByHistoryId(qint64 historyId);
};
