#pragma once

#include "app/OnceOnly.h"
#include "e2ee/CindralRecords.h"

#include <QObject>
#include <QVariantMap>

// Holds the signed-in user's end-to-end encryption keys: the current pair (content
// key and the same key wrapped under the PIN), persisted per user, and a pending
// pair while a key change is negotiated with the service. The only caller of the
// engine. Used from the main thread only.
class ZeroManager : public QObject
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(ZeroManager)

public:
    // Lifecycle and storage
    QString storageKey() const;
    void loadKeys();
    void saveKeys();
    bool hasKey();
    void clearKeys();
    void clearAllKeys();
    QString keyHash() const;
    QString cipherHash() const;

    // Content encryption under the current key; empty results without one.
    QByteArray encryptData(const QByteArray &data) const;
    QByteArray decryptData(const QByteArray &data) const;
    QString encryptText(const QString &text) const;
    QString decryptText(const QString &text) const;
    bool encryptFile(const QString &sourcePath, const QString &targetPath) const;
    bool decryptFile(const QString &sourcePath, const QString &targetPath) const;

    // Hashing and sealing
    QByteArray hashData(const QString &text) const;
    QString hashText(const QString &text) const;
    QByteArray sealForServer(const QByteArray &data, const QByteArray &publicKey) const;

    // Key life cycle
    QVariantMap createKey(const QString &pin);
    QVariantMap rewrapKey(const QString &pin);
    void commitPendingKey();
    bool importKey(const QString &pin, const QVariantMap &dictionary);
    bool verifyHashes(const QVariantMap &dictionary);
    static QVariantMap keyDictionary(const ce_key_record *key, const ce_cipher_record *cipher);

Q_SIGNALS:
    // The current pair changed or was discarded: the encryption window refreshes.
    void keysChanged();

private:
    ZeroManager();
    void requestRefresh();

    KeyRecordPtr m_key;
    CipherRecordPtr m_cipher;
    KeyRecordPtr m_pendingKey;
    CipherRecordPtr m_pendingCipher;
};
