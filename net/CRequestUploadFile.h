#pragma once

#include "net/CBaseRequest.h"
#include "store/History.h"

// Uploads one entry file: an upload token from the API, then a multipart form
// posted to the object store the token names. Started with startUpload().
class CRequestUploadFile : public CBaseRequest
{
    Q_OBJECT

public:
    CRequestUploadFile();

    const QString &fileId() const { return m_fileId; }
    void setFileId(const QString &v) { m_fileId = v; }
    const QString &fileHash() const { return m_fileHash; }
    void setFileHash(const QString &v) { m_fileHash = v; }
    const History &history() const { return m_history; }
    void setHistory(const History &v) { m_history = v; }

    void startUpload();
    QVariant parseResponse(const QByteArray &body) override;

Q_SIGNALS:
    // Bytes of the form sent so far, while the object store receives it.
    void uploadProgress(qint64 sent, qint64 total);

public Q_SLOTS:
    void requestUploadTokenFinish(CBaseRequest *callrequest, QVariant data);

private:
    void refuse(const char *why);
    // The file the form carries: the plain or zipped copy, or its encrypted copy
    // for "enc" types. Empty when it cannot be had.
    QString uploadSource() const;

    QString m_fileId;
    QString m_fileHash;
    History m_history;
};
