#include "store/History.h"

#include "app/clipUtils.h"
#include "store/SqlQuery.h"

#include <QSqlRecord>
#include <QVariant>

History History::fromRecord(const QSqlRecord &row)
{
    History h;
    h.m_content = row.value(QStringLiteral("content")).toString();
    h.m_timeStamp = row.value(QStringLiteral("timeStamp")).toDouble();
    h.m_deviceName = row.value(QStringLiteral("deviceName")).toString();
    h.m_type = row.value(QStringLiteral("type")).toString();
    h.m_historyId = row.value(QStringLiteral("history_id")).toLongLong();
    h.m_fileId = row.value(QStringLiteral("file_id")).toInt();
    h.m_fileReady = row.value(QStringLiteral("file_ready")).toLongLong() != 0;
    h.m_fileName = row.value(QStringLiteral("file_name")).toString();
    h.m_localFileOk = row.value(QStringLiteral("local_file_ok")).toLongLong() != 0;
    h.m_fileSize = row.value(QStringLiteral("file_size")).toDouble();
    h.m_fileHash = row.value(QStringLiteral("file_hash")).toString();
    h.m_changeTimestamp = row.value(QStringLiteral("change_timestamp")).toDouble();
    h.m_secert = row.value(QStringLiteral("secert")).toLongLong() != 0;
    h.m_category = row.value(QStringLiteral("category")).toString();
    h.m_favourite = row.value(QStringLiteral("favourite")).toLongLong();
    h.setKeyHash(row.value(QStringLiteral("key_hash")).toString());
    return h;
}

History History::fromServiceItem(const QVariantMap &item)
{
    History h;
    h.m_content = item.value(QStringLiteral("content")).toString();
    h.m_timeStamp = item.value(QStringLiteral("timestamp")).toDouble();
    h.m_deviceName = item.value(QStringLiteral("device_name")).toString();
    h.m_type = item.value(QStringLiteral("type")).toString();
    h.m_historyId = item.value(QStringLiteral("history_id")).toLongLong();
    h.m_fileId = item.value(QStringLiteral("file_id")).toInt();
    h.m_fileReady = item.value(QStringLiteral("file_ready")).toBool();
    h.m_fileSize = item.value(QStringLiteral("file_size")).toDouble();
    h.m_fileHash = item.value(QStringLiteral("file_hash")).toString();
    h.m_fileName = item.value(QStringLiteral("file_name")).toString();
    h.m_favourite = item.value(QStringLiteral("favourite")).toLongLong();
    h.setKeyHash(item.value(QStringLiteral("key_hash")).toString());
    return h;
}

QVariantMap History::toPushMap() const
{
    QVariantMap map;
    map.insert(QStringLiteral("content"), m_content);
    map.insert(QStringLiteral("timestamp"), m_timeStamp);
    map.insert(QStringLiteral("device_name"), m_deviceName);
    map.insert(QStringLiteral("file_hash"), m_fileHash);
    map.insert(QStringLiteral("file_name"), m_fileName);
    map.insert(QStringLiteral("file_size"), m_fileSize);
    map.insert(QStringLiteral("type"), m_type);
    map.insert(QStringLiteral("favourite"), m_favourite);
    if (!key_hash().isNull())
        map.insert(QStringLiteral("key_hash"), key_hash());
    return map;
}

QVariantMap History::toMap() const
{
    QVariantMap map;
    map.insert(QStringLiteral("content"), m_content);
    map.insert(QStringLiteral("timestamp"), m_timeStamp);
    map.insert(QStringLiteral("device_name"), m_deviceName);
    map.insert(QStringLiteral("type"), m_type);
    map.insert(QStringLiteral("history_id"), m_historyId);
    map.insert(QStringLiteral("file_id"), m_fileId);
    map.insert(QStringLiteral("file_ready"), m_fileReady);
    map.insert(QStringLiteral("file_name"), m_fileName);
    map.insert(QStringLiteral("local_file_ok"), m_localFileOk);
    map.insert(QStringLiteral("file_size"), m_fileSize);
    map.insert(QStringLiteral("file_hash"), m_fileHash);
    map.insert(QStringLiteral("secert"), m_secert);
    map.insert(QStringLiteral("category"), m_category);
    map.insert(QStringLiteral("favourite"), m_favourite);
    if (!key_hash().isNull())
        map.insert(QStringLiteral("key_hash"), key_hash());
    return map;
}

History History::fromMap(const QVariantMap &map)
{
    History h;
    h.m_content = map.value(QStringLiteral("content")).toString();
    h.m_timeStamp = map.value(QStringLiteral("timestamp")).toDouble();
    h.m_deviceName = map.value(QStringLiteral("device_name")).toString();
    h.m_type = map.value(QStringLiteral("type")).toString();
    h.m_historyId = map.value(QStringLiteral("history_id")).toLongLong();
    h.m_fileId = map.value(QStringLiteral("file_id")).toInt();
    h.m_fileReady = map.value(QStringLiteral("file_ready")).toBool();
    h.m_fileName = map.value(QStringLiteral("file_name")).toString();
    h.m_localFileOk = map.value(QStringLiteral("local_file_ok")).toBool();
    h.m_fileSize = map.value(QStringLiteral("file_size")).toDouble();
    h.m_fileHash = map.value(QStringLiteral("file_hash")).toString();
    h.m_secert = map.value(QStringLiteral("secert")).toBool();
    h.m_category = map.value(QStringLiteral("category")).toString();
    h.m_favourite = map.value(QStringLiteral("favourite")).toLongLong();
    h.setKeyHash(map.value(QStringLiteral("key_hash")).toString());
    return h;
}

bool History::isEmpty() const
{
    return m_content.isEmpty() || m_fileHash.isEmpty() || m_timeStamp == 0;
}

QString History::cipherHash() const
{
    return cipherHash(key_hash());
}

QString History::cipherHash(const QString &keyHash) const
{
    if (keyHash.isEmpty())
        return QString();
    return joinHash(m_fileHash, keyHash);
}

QString History::joinHash(const QString &a, const QString &b)
{
    return clipUtils::md5Hex((a + QLatin1Char('+') + b).toUtf8());
}

bool History::exists() const
{
    SqlQuery q(QStringLiteral("SELECT COUNT (*) FROM History where category is :category and file_hash is :file_hash"));
    q.bind(QStringLiteral(":category"), m_category);
    q.bind(QStringLiteral(":file_hash"), m_fileHash);
    return q.exec() && q.next() && q.value(0).toLongLong() != 0;
}

bool History::save() const
{
    if (m_fileHash.isEmpty())
        return false;
    if (!clipUtils::isFileHash(m_fileHash)) {
        qWarning("History: refused to store an entry whose file hash is not an MD5 digest");
        return false;
    }
    const bool update = exists();
    SqlQuery q(update ? QStringLiteral(
                   "                  update History set                   content = :content,"
                   "                   timeStamp = :timeStamp,                   deviceName = :deviceName,"
                   "                   type = :type,                   history_id = :history_id,"
                   "                   file_id = :file_id,                   file_ready = :file_ready,"
                   "                   file_name = :file_name,                   local_file_ok= :local_file_ok,"
                   "                   file_size = :file_size,                   key_hash = :key_hash"
                   "                 where                 file_hash = :file_hash"
                   "                 and category is :cate                 ")
                      : QStringLiteral(
                          "                  replace into History (                      content,"
                          "                       timeStamp,                       deviceName,"
                          "                       file_hash,                       type,"
                          "                       history_id,                       file_id,"
                          "                       file_ready,                       file_name,"
                          "                       change_timestamp,                       local_file_ok,"
                          "                       file_size,                       secert,"
                          "                       category,                       favourite,"
                          "                       key_hash                       )                   values"
                          "                   (                      :content,                      :timeStamp,"
                          "                      :deviceName,                      :file_hash,"
                          "                      :type,                       :history_id,"
                          "                       :file_id,                       :file_ready,"
                          "                       :file_name,                       :change_timestamp,"
                          "                       :local_file_ok,                       :file_size,"
                          "                       :secert,                       :category,"
                          "                       :favourite,                       :key_hash"
                          "                       );                  "));
    q.bind(QStringLiteral(":content"), m_content);
    q.bind(QStringLiteral(":timeStamp"), m_timeStamp);
    q.bind(QStringLiteral(":deviceName"), m_deviceName);
    q.bind(QStringLiteral(":file_hash"), m_fileHash);
    q.bind(QStringLiteral(":type"), m_type);
    q.bind(QStringLiteral(":history_id"), m_historyId);
    q.bind(QStringLiteral(":file_id"), m_fileId);
    q.bind(QStringLiteral(":file_ready"), m_fileReady);
    q.bind(QStringLiteral(":file_name"), m_fileName);
    q.bind(QStringLiteral(":local_file_ok"), m_localFileOk);
    q.bind(QStringLiteral(":file_size"), m_fileSize);
    q.bind(QStringLiteral(":key_hash"), key_hash().isNull() ? QVariant(QVariant::String) : QVariant(key_hash()));
    if (update) {
        q.bind(QStringLiteral(":cate"), m_category);
    } else {
        q.bind(QStringLiteral(":change_timestamp"), m_changeTimestamp);
        q.bind(QStringLiteral(":secert"), m_secert);
        q.bind(QStringLiteral(":category"), m_category);
        q.bind(QStringLiteral(":favourite"), m_favourite);
    }
    return q.exec();
}

void History::load()
{
    SqlQuery q(QStringLiteral("select * from History where category is :category and file_hash is :file_hash;"));
    q.bind(QStringLiteral(":category"), m_category);
    q.bind(QStringLiteral(":file_hash"), m_fileHash);
    if (q.exec() && q.next())
        *this = fromRecord(q.record());
}

bool History::markChanged()
{
    m_changeTimestamp = clipUtils::currentTime();
    SqlQuery q(QStringLiteral("UPDATE History SET change_timestamp = :ts where file_hash = :file_hash and category is :cate;"));
    q.bind(QStringLiteral(":ts"), static_cast<qint64>(m_changeTimestamp));
    q.bind(QStringLiteral(":file_hash"), m_fileHash);
    q.bind(QStringLiteral(":cate"), m_category);
    return q.exec();
}

bool History::clearChangeIfUnchanged() const
{
    SqlQuery select(QStringLiteral("select change_timestamp from history where file_hash = :file_hash and category is :cate;"));
    select.bind(QStringLiteral(":file_hash"), m_fileHash);
    select.bind(QStringLiteral(":cate"), m_category);
    if (!select.exec())
        return false;
    if (!select.next() || select.value(0).toLongLong() != static_cast<qint64>(m_changeTimestamp))
        return true;
    SqlQuery update(QStringLiteral("UPDATE History SET change_timestamp = 0 where file_hash = :file_hash and category is :cate;"));
    update.bind(QStringLiteral(":file_hash"), m_fileHash);
    update.bind(QStringLiteral(":cate"), m_category);
    return update.exec();
}
