#pragma once

#include "app/OnceOnly.h"
#include "e2ee/CindralRecords.h"
#include "e2ee/PinWork.h"

#include <QObject>
#include <QVariantMap>

#include <functional>
#include <memory>

// Holds the signed-in user's end-to-end encryption keys: the current pair (content
// key and the same key wrapped under the PIN), persisted per user, and a pending
// pair while a key change is negotiated with the service. The only caller of the
// engine. Used from the main thread only; the PIN operations (one Argon2id run of
// about a second each) also come as ...Async variants that do the hashing on a
// worker thread and finish on the main thread.
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

    // Hashing and sealing. The slow hash takes salted input: salt (16 bytes) and text;
    // over a wrap's salt and its PIN it is the "last_pwd_hash" the service checks.
    QByteArray hashData(const QByteArray &salt, const QString &text) const;
    QString hashText(const QByteArray &salt, const QString &text) const;
    QByteArray sealForServer(const QByteArray &data, const QByteArray &publicKey) const;

    // Key life cycle
    QVariantMap createKey(const QString &pin);
    QVariantMap rewrapKey(const QString &pin);
    void commitPendingKey();
    bool importKey(const QString &pin, const QVariantMap &dictionary);
    bool verifyHashes(const QVariantMap &dictionary);
    static QVariantMap keyDictionary(const ce_key_record *key, const ce_cipher_record *cipher);
    // The pending pair as a key dictionary, empty without one. After importKey opened
    // a wrap of the first construction it holds the same key wrapped anew under the
    // same PIN, for the caller to store on the service and commit.
    QVariantMap pendingDictionary() const;

    // A PIN change checked against the current wrap first: a wrong current PIN ends
    // here; a current wrap of the first construction (the service cannot check a proof
    // for it) is replaced through the key push instead of the modify request.
    struct PinChange {
        QVariantMap dictionary; // the new wrap, pending; empty when the change cannot go on
        QString lastPinHash;    // the proof for the modify request
        bool wrongPin = false;
        bool earlierWrap = false;
    };
    PinChange changePin(const QString &lastPin, const QString &newPin);

    void createKeyAsync(const QString &pin, std::function<void(const QVariantMap &)> done);
    void importKeyAsync(const QString &pin, const QVariantMap &dictionary, std::function<void(bool)> done);
    void changePinAsync(const QString &lastPin, const QString &newPin, std::function<void(const PinChange &)> done);

Q_SIGNALS:
    // The current pair changed or was discarded: the encryption window refreshes.
    void keysChanged();
    // The tray menu should be rebuilt (its lock state and entries depend on the key).
    void menuUpdateRequested();

private:
    ZeroManager();
    void requestRefresh();

    // Main-thread completions of the PinWork operations.
    bool installUnwrapped(PinWork::Unwrapped &unwrapped, const QString &forStorageKey);
    PinChange installRewrapped(PinWork::Rewrapped &rewrapped);
    // Runs work on the global thread pool and then finish on this object's thread.
    template <typename Result>
    void runSlow(std::function<std::shared_ptr<Result>()> work, std::function<void(std::shared_ptr<Result>)> finish);

    KeyRecordPtr m_key;
    CipherRecordPtr m_cipher;
    KeyRecordPtr m_pendingKey;
    CipherRecordPtr m_pendingCipher;
};
