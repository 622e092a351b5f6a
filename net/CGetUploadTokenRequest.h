#pragma once

#include "net/CBaseRequest.h"
#include "store/History.h"

// Asks the API where and under which signed policy one entry file may be uploaded.
class CGetUploadTokenRequest : public CBaseRequest
{
    Q_OBJECT

public:
    CGetUploadTokenRequest();

    const QString &fileId() const { return m_fileId; }
    void setFileId(const QString &v) { m_fileId = v; }
    const QString &fileHash() const { return m_fileHash; }
    void setFileHash(const QString &v) { m_fileHash = v; }
    const History &history() const { return m_history; }
    void setHistory(const History &v) { m_history = v; }

    void buildUrl() override;
    QVariant parseResponse(const QByteArray &body) override;

private:
    QString m_fileId;
    QString m_fileHash;
    History m_history;
};
