// Notification messages from the user's other devices, handled on the main thread.
#include "push/MqttManager.h"

#include "app/CFileManager.h"
#include "app/EntryCheck.h"
#include "app/clipUtils.h"
#include "capture/ConfigureManager.h"
#include "capture/Selvane.h"
#include "e2ee/ZeroManager.h"
#include "net/CRequestPushGet.h"
#include "net/HistoryService.h"
#include "net/SyncHandOver.h"
#include "store/HistoryQueries.h"
#include "store/HistoryStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

// Key hashes are short texts; a longer one is not ours and must not name a file.
constexpr int kMaxKeyHashLength = 64;

qint64 decimal(const QVariant &value)
{
    bool ok = false;
    const qint64 parsed = value.toString().toLongLong(&ok, 10);
    return ok ? parsed : 0;
}

// The file hash of a message, or a null text (with a warning) when it is not one.
QString checkedHash(const QVariantMap &data, const char *protocol)
{
    const QString hash = data.value(QStringLiteral("file_hash")).toString();
    if (clipUtils::isFileHash(hash))
        return hash;
    qWarning("mqtt: %s message with an invalid file hash dropped", protocol);
    return QString();
}

} // namespace

void MqttManager::slotHandleMesage(QByteArray data)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        qWarning("mqtt: message of %d bytes is not a JSON object, dropped", data.size());
        return;
    }
    const QVariantMap message = doc.object().toVariantMap();
    const QString protocol = message.value(QStringLiteral("protocol")).toString();
    const QVariantMap body = message.value(QStringLiteral("data")).toMap();
    if (clipUtils::deviceToken() == body.value(QStringLiteral("device_token")).toString())
        return;
    if (protocol.startsWith(QLatin1String("history_delete")))
        handleDelete(body);
    else if (protocol.startsWith(QLatin1String("history_upload_file")))
        handleUploadFile(body);
    else if (protocol.startsWith(QLatin1String("history_clear")))
        handleClear(body);
}

void MqttManager::handleDelete(const QVariantMap &data)
{
    const QString hash = checkedHash(data, "history_delete");
    const QString keyHash = data.value(QStringLiteral("key_hash")).toString();
    if (hash.isEmpty())
        return;
    if (keyHash.size() > kMaxKeyHashLength) {
        qWarning("mqtt: history_delete message with an over-long key hash dropped");
        return;
    }
    HistoryStore::deleteEntry(hash, keyHash);
    SyncHandOver::instance()->requestMenuUpdate();
}

void MqttManager::handleUploadFile(const QVariantMap &data)
{
    const QString hash = checkedHash(data, "history_upload_file");
    if (hash.isEmpty())
        return;
    if (clipUtils::isAutoSetClipboard())
        ConfigureManager::instance()->setPendingHash(hash);
    History record;
    record.setFileHash(hash);
    if (!record.exists()) {
        auto *request = new CRequestPushGet;
        request->setHistory(record);
        connect(request, &CBaseRequest::responseData, this, &MqttManager::requestFinish);
        request->start();
        return;
    }
    record.load();
    record.setFileReady(true);
    if (record.history_id() == 0)
        record.setHistoryId(decimal(data.value(QStringLiteral("history_id"))));
    if (record.file_id() == 0)
        record.setFileId(static_cast<qint32>(decimal(data.value(QStringLiteral("file_id")))));
    record.save();
    HistoryService::instance()->pushPending();
}

void MqttManager::handleClear(const QVariantMap &data)
{
    const qint32 timestamp = data.value(QStringLiteral("timestamp")).toInt();
    HistoryStore::clearNonFavouritesBefore(timestamp);
    SyncHandOver::instance()->requestMenuUpdate();
}

void MqttManager::requestFinish(CBaseRequest *request, QVariant data)
{
    if (!request->replyOk() || data.isNull()) {
        request->deleteLater();
        return;
    }
    const QVariantMap reply = data.toMap();
    if (reply.value(QStringLiteral("code"), -1).toInt() != 0) {
        request->deleteLater();
        return;
    }
    History record = History::fromServiceItem(reply.value(QStringLiteral("history")).toMap());
    const QString asked = static_cast<CRequestPushGet *>(request)->history().file_hash();
    if (record.file_hash() != asked) {
        qWarning("mqtt: the service answered with another entry, dropped");
        request->deleteLater();
        return;
    }
    bool stored = false;
    if (!record.type().contains(QLatin1String("enc"))) {
        record.save();
        stored = true;
    } else {
        ZeroManager *zero = ZeroManager::instance();
        if (!record.key_hash().isEmpty() && record.key_hash() == zero->keyHash()) {
            record.setContent(zero->decryptText(record.content()));
            if (record.type().startsWith(QLatin1String("text_")) && !record.content().isEmpty()
                && !EntryCheck::textMayBelong(record.content(), record.file_hash())) {
                qWarning("mqtt: entry %s decrypts to another entry's text; dropped", qPrintable(record.file_hash()));
                record.setContent(QString());
            }
            if (!record.content().isEmpty()) {
                record.save();
                stored = true;
            }
        }
    }
    // Marked local only when its file was written (a full disk leaves it to the download).
    if (stored && clipUtils::md5Hex(record.content().toUtf8()) == record.file_hash()
        && CFileManager::saveFile(record.content().toUtf8(), record)) {
        HistoryQueries::setLocalFileOk(record.file_hash());
        placeIfPending(record);
    }
    SyncHandOver::instance()->requestMenuUpdate();
    HistoryService::instance()->pushPending();
    request->deleteLater();
}

void MqttManager::fileArrived(const QString &fileHash)
{
    History record;
    record.setFileHash(fileHash);
    if (record.exists()) {
        record.load();
        placeIfPending(record);
    }
}

void MqttManager::placeIfPending(const History &record)
{
    const QString pending = ConfigureManager::instance()->pendingHash();
    if (pending.isEmpty() || pending != record.file_hash())
        return;
    Selvane::copyRecord(record, false);
    if (record.type().startsWith(QLatin1String("text"))) {
        Q_EMIT clipboardUpdated(record.content(), QImage());
    } else if (record.type().startsWith(QLatin1String("image"))) {
        const QString path = CFileManager::entryPath(CFileManager::filesPath(), record.file_hash());
        Q_EMIT clipboardUpdated(QString(), QImage(path));
    }
}
