#pragma once

#include "net/CBaseRequest.h"
#include "store/History.h"

// Downloads one entry file and undoes its transforms (decryption, then
// decompression) into files/<hash>.
class CRequestDownloadFile : public CBaseRequest
{
    Q_OBJECT

public:
    CRequestDownloadFile();

    qint32 fileId() const { return m_fileId; }
    void setFileId(qint32 v) { m_fileId = v; }
    const QString &fileHash() const { return m_fileHash; }
    void setFileHash(const QString &v) { m_fileHash = v; }
    const History &history() const { return m_history; }
    void setHistory(const History &v) { m_history = v; }

    void buildUrl() override;
    QVariant parseResponse(const QByteArray &body) override;

    // Extracts the entry named `name` from archive into target when its size is
    // within the limit; a bounded wrapper around JlCompress::extractFile.
    static bool extractEntry(const QString &archive, const QString &name, const QString &target);

private:
    qint32 m_fileId = 0;
    QString m_fileHash;
    History m_history;
};
