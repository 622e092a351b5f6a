#include "store/HistoryQueries.h"

#include "store/SqlQuery.h"
#include "store/SqlTransaction.h"

namespace {

const QString kFileHash = QStringLiteral(":file_hash");
const QString kCate = QStringLiteral(":cate");

bool execWithHash(const QString &statement, const QString &fileHash)
{
    SqlQuery q(statement);
    q.bind(kFileHash, fileHash);
    return q.exec();
}

// Selects the rows a statement pair removes, then deletes them. The caller deletes
// the files of what is returned, so a failed deletion returns nothing.
HistoryList take(bool *ok, const QString &select, const QString &remove, const QVariantMap &bindings = {})
{
    if (ok)
        *ok = false;
    SqlTransaction transaction;
    SqlQuery s(select);
    for (auto it = bindings.cbegin(); it != bindings.cend(); ++it)
        s.bind(it.key(), it.value());
    const HistoryList rows = s.histories();
    SqlQuery d(remove);
    for (auto it = bindings.cbegin(); it != bindings.cend(); ++it)
        d.bind(it.key(), it.value());
    if (!d.exec() || !transaction.commit())
        return HistoryList();
    if (ok)
        *ok = true;
    return rows;
}

} // namespace

bool HistoryQueries::exists(const QString &fileHash, const QString &category)
{
    History h;
    h.setFileHash(fileHash);
    h.setCategory(category);
    return h.exists();
}

bool HistoryQueries::hashInUse(const QString &fileHash)
{
    SqlQuery q(QStringLiteral("SELECT COUNT (*) FROM History where file_hash is :file_hash"));
    q.bind(kFileHash, fileHash);
    return q.exec() && q.next() && q.value(0).toLongLong() != 0;
}

bool HistoryQueries::remove(const QString &fileHash, const QString &category)
{
    SqlQuery q(QStringLiteral("delete from History where file_hash is :file_hash and category is :cate;"));
    q.bind(kFileHash, fileHash);
    q.bind(kCate, category);
    return q.exec();
}

bool HistoryQueries::removeByHash(const QString &fileHash)
{
    return execWithHash(QStringLiteral("delete from history where file_hash = :file_hash;"), fileHash);
}

bool HistoryQueries::unsetSecret(const QString &fileHash)
{
    return execWithHash(QStringLiteral("UPDATE History SET secert = 0 where file_hash is :file_hash;"), fileHash);
}

bool HistoryQueries::setLocalFileOk(const QString &fileHash)
{
    return execWithHash(QStringLiteral("update History set local_file_ok = 1 where file_hash = :file_hash;"), fileHash);
}

bool HistoryQueries::setFileReady(bool ready, const QString &keyHash, const QString &fileHash)
{
    SqlQuery q(QStringLiteral("update History set file_ready = :ready, key_hash = :keyhash where file_hash = :file_hash;"));
    q.bind(QStringLiteral(":ready"), ready);
    q.bind(QStringLiteral(":keyhash"), keyHash.isEmpty() ? QStringLiteral("NULL") : keyHash);
    q.bind(kFileHash, fileHash);
    return q.exec();
}

bool HistoryQueries::setServiceIds(const QString &fileHash, const QString &category, qint64 fileId,
                                   qint64 historyId, const QString &type)
{
    SqlQuery q(QStringLiteral("update History set file_id = :file_id, history_id = :history_id, type = :type "
                              "where file_hash = :file_hash and category is :cate;"));
    q.bind(QStringLiteral(":file_id"), fileId);
    q.bind(QStringLiteral(":history_id"), historyId);
    q.bind(QStringLiteral(":type"), type);
    q.bind(kFileHash, fileHash);
    q.bind(kCate, category);
    return q.exec() && q.rowsAffected() > 0;
}

bool HistoryQueries::setFavourite(qint64 favourite, const QString &fileHash)
{
    SqlQuery q(QStringLiteral("update History set favourite = :favourite where file_hash = :file_hash;"));
    q.bind(QStringLiteral(":favourite"), favourite);
    q.bind(kFileHash, fileHash);
    return q.exec();
}

bool HistoryQueries::setFavouriteMark(qint64 favourite, const QString &fileHash)
{
    SqlQuery q(QStringLiteral("update History set favourite = :fav where file_hash is :file_hash;"));
    q.bind(QStringLiteral(":fav"), favourite);
    q.bind(kFileHash, fileHash);
    return q.exec();
}

bool HistoryQueries::setTimestamp(qint64 timestamp, const QString &fileHash)
{
    SqlQuery q(QStringLiteral("update History set timestamp = :timestamp where file_hash is :file_hash;"));
    q.bind(QStringLiteral(":timestamp"), timestamp);
    q.bind(kFileHash, fileHash);
    return q.exec();
}

bool HistoryQueries::resetUpload(const QString &fileHash)
{
    return execWithHash(QStringLiteral("UPDATE History SET history_id = 0, file_ready = 0, key_hash = null where file_hash is :file_hash;"),
                 fileHash);
}

bool HistoryQueries::resetForKey(const QString &keyHash)
{
    if (keyHash.isEmpty())
        return true;
    SqlTransaction transaction;
    SqlQuery reset(QStringLiteral("update History set history_id = 0, file_ready = 0, file_id = 0, key_hash = NULL "
                                  "where key_hash not NULL and key_hash is not :key_hash;"));
    reset.bind(QStringLiteral(":key_hash"), keyHash);
    return reset.exec() && SqlQuery(QStringLiteral("delete from History where local_file_ok = 0;")).exec()
        && transaction.commit();
}

bool HistoryQueries::removeWithoutFiles()
{
    return SqlQuery(QStringLiteral("delete from history where file_ready = 0 and local_file_ok = 0;")).exec();
}

HistoryList HistoryQueries::withoutLocalFile(const QString &category)
{
    SqlQuery q(QStringLiteral("select * from History where local_file_ok = 0 and category is :cate;"));
    q.bind(kCate, category);
    return q.histories();
}

HistoryPtr HistoryQueries::nextFileTransfer()
{
    return SqlQuery(QStringLiteral("select * from History where (file_ready + local_file_ok = 1) and file_id > 0 "
                                   "order by timeStamp desc limit 1;"))
        .first();
}

HistoryPtr HistoryQueries::nextPushHistory()
{
    return SqlQuery(QStringLiteral("select * from History where change_timestamp > 0 and file_size <= 5767168 and "
                                   "secert = 0 and category = 'history' order by timeStamp desc limit 1;"))
        .first();
}

HistoryPtr HistoryQueries::nextPushFavourite()
{
    return SqlQuery(QStringLiteral("select * from History where change_timestamp > 0 and file_size <= 5767168 and "
                                   "secert = 0 and category = 'favourite' order by timeStamp desc limit 1;"))
        .first();
}

HistoryPtr HistoryQueries::findByHistoryId(qint64 historyId, const QString &category)
{
    SqlQuery q(QStringLiteral("select * from History where history_id = :his_id and category is :cate"));
    q.bind(QStringLiteral(":his_id"), QString::number(historyId));
    q.bind(kCate, category);
    return q.first();
}

HistoryList HistoryQueries::list(const QString &category)
{
    SqlQuery q(QStringLiteral("select * from History where category is :cate order by timeStamp desc limit 30;"));
    q.bind(kCate, category);
    return q.histories();
}

HistoryList HistoryQueries::listHistory() { return list(QStringLiteral("history")); }
HistoryList HistoryQueries::listFavourite() { return list(QStringLiteral("favourite")); }

HistoryList HistoryQueries::listByType(const QString &category, const QString &typePattern)
{
    SqlQuery q(QStringLiteral("select * from History where category is :cate and type like :type "
                              "order by timeStamp desc limit 30;"));
    q.bind(kCate, category);
    q.bind(QStringLiteral(":type"), typePattern);
    return q.histories();
}

HistoryList HistoryQueries::textSince(qint64 timestamp)
{
    SqlQuery q(QStringLiteral("select * from history where category is 'history' and type like 'text%' and "
                              "timestamp >= :ts order by timestamp"));
    q.bind(QStringLiteral(":ts"), timestamp);
    return q.histories();
}

QVariantMap HistoryQueries::favouriteMarks()
{
    QVariantMap marks;
    SqlQuery q(QStringLiteral("select history_id,favourite from History where category is 'favourite' and "
                              "history_id > 0 and favourite > 0 order by timestamp"));
    if (!q.exec())
        return marks;
    while (q.next()) {
        QVariantMap mark;
        mark.insert(QStringLiteral("favourite"), q.value(1).toLongLong());
        marks.insert(QString::number(q.value(0).toLongLong()), mark);
    }
    return marks;
}

HistoryList HistoryQueries::takeBeyondLimit(const QString &category, bool *ok)
{
    SqlQuery count(QStringLiteral("select count(history_id) from history where category is :cate"));
    count.bind(kCate, category);
    const bool counted = count.exec();
    if (ok)
        *ok = counted;
    if (!counted || !count.next() || count.value(0).toLongLong() <= 60)
        return HistoryList();
    const QString beyond = QStringLiteral(
        "from history where timestamp < (select min(timestamp) from (select timestamp from history "
        "where category is :cate order by timestamp desc limit 60)) and category is :cate;");
    return take(ok, QStringLiteral("select * ") + beyond, QStringLiteral("delete ") + beyond, {{kCate, category}});
}

HistoryList HistoryQueries::takeAll(bool *ok)
{
    return take(ok, QStringLiteral("select * from history"), QStringLiteral("delete from history;"));
}

HistoryList HistoryQueries::takeNonFavourites(bool *ok)
{
    return take(ok, QStringLiteral("select * from history where favourite <= 0;"),
                QStringLiteral("delete from history where favourite <= 0;"));
}

HistoryList HistoryQueries::takeNonFavouritesBefore(qint64 timestamp, bool *ok)
{
    return take(ok, QStringLiteral("select * from history where favourite <= 0 and timestamp < :timestamp;"),
                QStringLiteral("delete from history where favourite <= 0 and timestamp < :timestamp;"),
                {{QStringLiteral(":timestamp"), timestamp}});
}

HistoryList HistoryQueries::takeByHistoryId(qint64 historyId, bool *ok)
{
    return take(ok, QStringLiteral("select * from history where history_id = :his_id;"),
                QStringLiteral("delete from history where history_id = :his_id;"),
                {{QStringLiteral(":his_id"), historyId}});
}
