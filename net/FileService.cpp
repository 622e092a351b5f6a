#include "net/FileService.h"

#include "app/CFileManager.h"
#include "app/clipUtils.h"
#include "net/CRequestDownloadFile.h"
#include "net/CRequestUploadFile.h"
#include "net/SyncHandOver.h"
#include "store/HistoryQueries.h"

#include <QFile>

namespace {

bool hasLocalFile(const History &record)
{
    const QString path = CFileManager::entryPath(CFileManager::filesPath(), record.file_hash());
    return !path.isEmpty() && QFile::exists(path);
}

} // namespace

void FileService::transferNext()
{
    if (!clipUtils::hasUserToken()) {
        m_busy = false;
        return;
    }
    if (m_busy)
        return;
    HistoryPtr record = HistoryQueries::nextFileTransfer();
    // Rows from before hashes were checked: such a hash never names a file.
    while (record && !clipUtils::isFileHash(record->file_hash())) {
        qWarning("file transfer: entry with an invalid file hash dropped");
        HistoryQueries::removeByHash(record->file_hash());
        record = HistoryQueries::nextFileTransfer();
    }
    if (!record) {
        m_busy = false;
        return;
    }
    if (!record->file_ready() && !hasLocalFile(*record))
        return;
    m_busy = true;
    if (!record->file_ready()) {
        auto *upload = new CRequestUploadFile;
        upload->setHistory(*record);
        connect(upload, &CBaseRequest::responseData, this, &FileService::requestUploadFinish);
        const QString hash = record->file_hash();
        connect(upload, &CRequestUploadFile::uploadProgress, this,
                [this, hash](qint64 sent, qint64 total) { Q_EMIT uploadProgress(hash, sent, total); });
        upload->setFileHash(record->file_hash());
        upload->setFileId(QString::number(record->file_id()));
        upload->startUpload();
        return;
    }
    if (hasLocalFile(*record)) {
        HistoryQueries::setLocalFileOk(record->file_hash());
        m_busy = false;
        qInfo("文件已下载");
        transferNext();
        return;
    }
    auto *download = new CRequestDownloadFile;
    download->setHistory(*record);
    connect(download, &CBaseRequest::responseData, this, &FileService::requestDownloadFinish);
    download->setFileHash(record->file_hash());
    download->setFileId(record->file_id());
    download->start();
}

void FileService::applyStatus(CBaseRequest *request, const QString &fileHash, bool recordEmpty)
{
    const int status = request->httpStatus();
    if (status == 404 && !recordEmpty)
        HistoryQueries::resetUpload(fileHash);
    else if (status == 401)
        clipUtils::removeUserToken();
}

void FileService::requestUploadFinish(CBaseRequest *request, QVariant data)
{
    Q_UNUSED(data)
    const History record = static_cast<CRequestUploadFile *>(request)->history();
    if (!request->reply()) {
        request->deleteLater();
        m_busy = false;
        return;
    }
    applyStatus(request, record.file_hash(), record.isEmpty());
    const bool ok = request->replyOk();
    request->deleteLater();
    m_busy = false;
    if (ok)
        transferNext();
}

void FileService::requestDownloadFinish(CBaseRequest *request, QVariant data)
{
    Q_UNUSED(data)
    const History record = static_cast<CRequestDownloadFile *>(request)->history();
    if (!request->reply()) {
        request->deleteLater();
        m_busy = false;
        return;
    }
    applyStatus(request, record.file_hash(), record.isEmpty());
    if (!request->replyOk() || !hasLocalFile(record)) {
        request->deleteLater();
        m_busy = false;
        return;
    }
    SyncHandOver::instance()->announceFileArrived(record.file_hash());
    request->deleteLater();
    m_busy = false;
    transferNext();
}
