#pragma once

#include <QMetaType>
#include <QSharedPointer>
#include <QString>
#include <QVariantMap>

class QSqlRecord;

// One history entry: one row of the History table. A plain value, copied freely.
// Getters carry the field names; setters are the usual set + CamelCase name.
class History
{
public:
    History() = default;

    static History fromRecord(const QSqlRecord &row);
    static History fromServiceItem(const QVariantMap &item);
    static History fromMap(const QVariantMap &map);
    QVariantMap toPushMap() const;
    QVariantMap toMap() const;

    const QString &content() const { return m_content; }
    double timeStamp() const { return m_timeStamp; }
    const QString &deviceName() const { return m_deviceName; }
    const QString &file_hash() const { return m_fileHash; }
    const QString &type() const { return m_type; }
    qint64 history_id() const { return m_historyId; }
    qint32 file_id() const { return m_fileId; }
    bool file_ready() const { return m_fileReady; }
    const QString &file_name() const { return m_fileName; }
    double change_timestamp() const { return m_changeTimestamp; }
    bool local_file_ok() const { return m_localFileOk; }
    double file_size() const { return m_fileSize; }
    bool secert() const { return m_secert; }
    const QString &category() const { return m_category; }
    qint64 favourite() const { return m_favourite; }
    // Null when absent; never the empty text.
    QString key_hash() const { return m_keyHash.isEmpty() ? QString() : m_keyHash; }

    void setContent(const QString &v) { m_content = v; }
    void setTimeStamp(double v) { m_timeStamp = v; }
    void setDeviceName(const QString &v) { m_deviceName = v; }
    void setFileHash(const QString &v) { m_fileHash = v; }
    void setType(const QString &v) { m_type = v; }
    void setHistoryId(qint64 v) { m_historyId = v; }
    void setFileId(qint32 v) { m_fileId = v; }
    void setFileReady(bool v) { m_fileReady = v; }
    void setFileName(const QString &v) { m_fileName = v; }
    void setChangeTimestamp(double v) { m_changeTimestamp = v; }
    void setLocalFileOk(bool v) { m_localFileOk = v; }
    void setFileSize(double v) { m_fileSize = v; }
    void setSecert(bool v) { m_secert = v; }
    void setCategory(const QString &v) { m_category = v; }
    void setFavourite(qint64 v) { m_favourite = v; }
    void setKeyHash(const QString &v) { m_keyHash = v.isEmpty() ? QString() : v; }

    // True when content, file_hash or timeStamp is missing: callers skip such records.
    bool isEmpty() const;
    // MD5 of file_hash + "+" + key hash: names the encrypted copy under encrypt/.
    QString cipherHash() const;
    QString cipherHash(const QString &keyHash) const;
    static QString joinHash(const QString &a, const QString &b);

    // Row operations keyed by (file_hash, category). Writes return false when
    // nothing could be stored (the reason is logged).
    bool exists() const;
    bool save() const;
    void load();
    bool markChanged();
    bool clearChangeIfUnchanged() const;

private:
    QString m_content;
    double m_timeStamp = 0;
    QString m_deviceName;
    QString m_fileHash;
    QString m_type;
    qint64 m_historyId = 0;
    qint32 m_fileId = 0;
    bool m_fileReady = false;
    QString m_fileName;
    double m_changeTimestamp = 0;
    bool m_localFileOk = false;
    double m_fileSize = 0;
    bool m_secert = false;
    QString m_category = QStringLiteral("history");
    qint64 m_favourite = 0;
    QString m_keyHash;
};

using HistoryPtr = QSharedPointer<History>;
using HistoryList = QList<History>;

// Menu items carry records in variants under the type name "History".
Q_DECLARE_METATYPE(History)
