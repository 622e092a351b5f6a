#pragma once

#include "store/History.h"

#include <QVariantMap>

// Every static read and write of the History table. All values are bound. Writes
// return false when the statement failed (the driver's error is logged).
class HistoryQueries
{
public:
    static bool exists(const QString &fileHash, const QString &category);
    static bool hashInUse(const QString &fileHash);
    static bool remove(const QString &fileHash, const QString &category);
    static bool removeByHash(const QString &fileHash);
    static bool unsetSecret(const QString &fileHash);
    static bool setLocalFileOk(const QString &fileHash);
    // An empty keyHash stores the text "NULL", as older versions did.
    static bool setFileReady(bool ready, const QString &keyHash, const QString &fileHash);
    // The ids the service gave a pushed entry and its type there; false when the row
    // is not (or no longer) stored.
    static bool setServiceIds(const QString &fileHash, const QString &category, qint64 fileId, qint64 historyId,
                              const QString &type);
    static bool setFavourite(qint64 favourite, const QString &fileHash);
    static bool setFavouriteMark(qint64 favourite, const QString &fileHash);
    static bool setTimestamp(qint64 timestamp, const QString &fileHash);
    static bool resetUpload(const QString &fileHash);
    static bool resetForKey(const QString &keyHash);
    static bool removeWithoutFiles();
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

    // The take* calls select and delete in one transaction; they return the rows
    // removed, none when the deletion failed (then *ok is false).
    static HistoryList takeBeyondLimit(const QString &category, bool *ok = nullptr);
    static HistoryList takeAll(bool *ok = nullptr);
    static HistoryList takeNonFavourites(bool *ok = nullptr);
    static HistoryList takeNonFavouritesBefore(qint64 timestamp, bool *ok = nullptr);
    static HistoryList takeByHistoryId(qint64 historyId, bool *ok = nullptr);
};
