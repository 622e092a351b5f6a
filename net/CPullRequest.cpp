#include "net/CPullRequest.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/EntryCheck.h"
#include "app/clipUtils.h"
#include "e2ee/ZeroManager.h"
#include "net/HistoryService.h"
#include "net/SyncHandOver.h"
#include "store/HistoryQueries.h"
#include "store/HistoryStore.h"
#include "store/SqlTransaction.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>

using namespace Zorvel;

CPullRequest::CPullRequest()
{
    setPath(QStringLiteral("pull/"));
    bool ok = false;
    const qint32 stored = clipUtils::settings()->value(QLatin1String(Key::RequestTimestamp)).toString().toInt(&ok);
    m_lastRequestTimestamp = ok ? stored : 0;
}

void CPullRequest::buildUrl()
{
    setUrl(fullUrl() + QStringLiteral("&last_request_timestamp=") + QString::number(m_lastRequestTimestamp)
           + QStringLiteral("&user_token=") + userToken());
}

QVariant CPullRequest::parseResponse(const QByteArray &body)
{
    m_nextPage = false;
    ++m_pages;
    QJsonObject reply;
    if (!parseObject(body, &reply))
        return QVariant();
    verifyCipher(reply);
    if (!reply.contains(QLatin1String("code"))) {
        qWarning("pull reply without code: nothing applied");
        return QVariant();
    }
    const int code = reply.value(QLatin1String("code")).toInt();
    if (code != 0)
        return code;

    // One transaction per page: hundreds of rows in one commit rather than one each,
    // and the cursor moves on only once the page is stored.
    QSqlDatabase db = QSqlDatabase::database();
    const bool batched = db.transaction();
    applyActions(reply);

    if (reply.contains(QLatin1String("clear_all_ts"))) {
        const qint64 clearTime = reply.value(QLatin1String("clear_all_ts")).toVariant().toLongLong();
        HistoryStore::clearNonFavouritesBefore(static_cast<qint32>(static_cast<quint32>(clearTime)));
    }

    if (reply.contains(QLatin1String("histories"))) {
        m_sawHistories = true;
        const QJsonArray items = reply.value(QLatin1String("histories")).toArray();
        for (const QJsonValue &item : items)
            applyItem(item.toObject().toVariantMap());
    }
    if (batched && !db.commit()) {
        qWarning("pull: the page could not be stored (%s); it comes again with the next sync",
                 qPrintable(db.lastError().text()));
        db.rollback();
        return QVariant();
    }

    bool advanced = false;
    if (reply.contains(QLatin1String("request_timestamp"))) {
        const QString next = reply.value(QLatin1String("request_timestamp")).toVariant().toString();
        clipUtils::settings()->setValue(QLatin1String(Key::RequestTimestamp), next);
        bool ok = false;
        const qint32 value = next.toInt(&ok);
        // Only a cursor that moves on can fetch another page; anything else would
        // ask for the same page forever.
        advanced = ok && value > m_lastRequestTimestamp;
        if (ok)
            m_lastRequestTimestamp = value;
    }

    const bool more = reply.value(QLatin1String("more")).toBool();
    if (more && advanced && m_pages < Net::kPullMaxPages) {
        m_nextPage = true;
        return 0;
    }
    if (more)
        qInfo("pull: %d pages applied, the rest follows with the next sync", m_pages);
    finishSync();
    return 0;
}

// Pruning waits for the last page: pruned after the first, a fresh device would keep
// the oldest entries of the account.
void CPullRequest::finishSync()
{
    if (!m_sawHistories)
        return;
    HistoryStore::pruneCategory(QLatin1String(Category::History));
    // A short text travels whole in "content": its file is written from the row, and
    // only for the entries the pruning kept (60 files on a first sync, not thousands).
    QVector<QPair<QString, QByteArray>> files;
    for (const History &row : HistoryQueries::withoutLocalFile(QLatin1String(Category::History))) {
        QByteArray bytes = row.content().toUtf8();
        if (clipUtils::md5Hex(bytes) == row.file_hash())
            files.append({row.file_hash(), std::move(bytes)});
    }
    // A file that could not be written (disk full) is left to the file download.
    const QSet<QString> written = CFileManager::saveFiles(files);
    SqlTransaction marks;
    for (const QString &hash : written)
        HistoryQueries::setLocalFileOk(hash);
    HistoryQueries::removeWithoutFiles();
    if (!marks.commit())
        qWarning("pull: the local files could not be recorded (%s); they are written again with the next sync",
                 qPrintable(marks.lastError()));
    SyncHandOver::instance()->requestBrokerConnect();
    HistoryService::instance()->pushPending();
}

void CPullRequest::applyActions(const QJsonObject &reply)
{
    if (!reply.contains(QLatin1String("action")))
        return;
    const QJsonArray actions = reply.value(QLatin1String("action")).toArray();
    for (const QJsonValue &value : actions) {
        const QJsonObject action = value.toObject();
        if (action.value(QLatin1String("action")).toString().toLower() != QLatin1String("del"))
            continue;
        bool ok = false;
        const qint64 historyId = action.value(QLatin1String("history_id")).toVariant().toString().toLongLong(&ok);
        // Entries never uploaded all carry history_id 0: a deletion of id 0 (or of a
        // missing id) would wipe every one of them.
        if (!ok || historyId <= 0) {
            qWarning("pull: deletion without a valid history id ignored");
            continue;
        }
        HistoryStore::deleteByHistoryId(historyId);
    }
}

void CPullRequest::applyItem(const QVariantMap &item)
{
    History record = History::fromServiceItem(item);
    if (!clipUtils::isFileHash(record.file_hash())) {
        qWarning("pull: item with an invalid file hash skipped");
        return;
    }

    if (record.exists()) {
        record.load();
        record.setFileId(item.value(QStringLiteral("file_id")).toInt());
        record.setFileReady(item.value(QStringLiteral("file_ready")).toBool());
        record.setHistoryId(item.value(QStringLiteral("history_id")).toInt());
        record.setFileName(item.value(QStringLiteral("file_name")).toString());
        record.setType(item.value(QStringLiteral("type")).toString());
        record.setKeyHash(item.value(QStringLiteral("key_hash")).toString());
        const qint32 itemTime = item.value(QStringLiteral("timestamp")).toInt();
        if (static_cast<qint64>(record.timeStamp()) < itemTime)
            record.setTimeStamp(itemTime);
        record.save();
        return;
    }

    const bool encrypted = record.type().contains(QLatin1String("enc"));
    const bool keyed = !record.key_hash().isEmpty();
    if (encrypted && keyed) {
        const QString plain = ZeroManager::instance()->decryptText(record.content());
        if (plain.isEmpty())
            return;
        if (record.type().startsWith(QLatin1String("text_")) && !EntryCheck::textMayBelong(plain, record.file_hash())) {
            qWarning("pull: entry %s decrypts to another entry's text; dropped", qPrintable(record.file_hash()));
            return;
        }
        record.setContent(plain);
    } else if (encrypted || keyed) {
        return;
    }
    record.save();
}
