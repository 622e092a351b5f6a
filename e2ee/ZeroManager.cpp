#include "e2ee/ZeroManager.h"

#include "app/Constants.h"
#include "app/clipUtils.h"
#include "store/HistoryQueries.h"

#include <QFile>
#include <QSettings>
#include <QThreadPool>
#include <QtDebug>

#include <cstring>

using namespace Zorvel;

namespace {

QString name(const char *key) { return QLatin1String(key); }

// The UTF-8 bytes of a PIN or password, wiped when they go out of scope.
class SecretUtf8
{
public:
    explicit SecretUtf8(const QString &text) : m_bytes(text.toUtf8()) {}
    ~SecretUtf8() { CindralRecords::wipe(m_bytes); }
    SecretUtf8(const SecretUtf8 &) = delete;
    SecretUtf8 &operator=(const SecretUtf8 &) = delete;

    const char *data() const { return m_bytes.constData(); }
    int32_t size() const { return m_bytes.size(); }

private:
    QByteArray m_bytes;
};

// A PIN as UTF-8 bytes of its own, handed to a worker and wiped when the last user lets go.
using SharedSecret = std::shared_ptr<SecretUtf8>;
SharedSecret shareSecret(const QString &text) { return std::make_shared<SecretUtf8>(text); }

} // namespace

template <typename Result>
void ZeroManager::runSlow(std::function<std::shared_ptr<Result>()> work,
                          std::function<void(std::shared_ptr<Result>)> finish)
{
    // The singleton outlives every task, so the completion can always be queued to it.
    QThreadPool::globalInstance()->start([this, work, finish] {
        std::shared_ptr<Result> result = work();
        QMetaObject::invokeMethod(this, [finish, result] { finish(result); }, Qt::QueuedConnection);
    });
}

ZeroManager::ZeroManager()
{
    loadKeys();
}

QString ZeroManager::storageKey() const
{
    const QString userId = clipUtils::userId();
    if (!clipUtils::hasUserToken() || userId.isEmpty())
        return QString();
    return name(Key::UserKeyRecord).arg(userId);
}

void ZeroManager::loadKeys()
{
    const QString key = storageKey();
    if (key.isEmpty())
        return;
    const QVariantMap stored = clipUtils::settings()->value(key).toMap();
    const QByteArray keyData = stored.value(name(KeyStore::KeyData)).toByteArray();
    const QByteArray cipherData = stored.value(name(KeyStore::CipherData)).toByteArray();
    if (keyData.isEmpty() || cipherData.isEmpty())
        return;
    KeyRecordPtr keyRecord = CindralRecords::keyFromBytes(keyData);
    CipherRecordPtr cipherRecord = CindralRecords::cipherFromBytes(cipherData);
    if (!keyRecord || !cipherRecord) {
        qWarning("e2ee: the stored key pair is shorter than its layout; ignored");
        return;
    }
    m_key = std::move(keyRecord);
    m_cipher = std::move(cipherRecord);
}

void ZeroManager::saveKeys()
{
    const QString key = storageKey();
    if (!key.isEmpty() && m_key && m_cipher) {
        QVariantMap stored;
        stored.insert(name(KeyStore::KeyData), CindralRecords::toBytes(*m_key));
        stored.insert(name(KeyStore::CipherData), CindralRecords::toBytes(*m_cipher));
        clipUtils::settings()->setValue(key, stored);
        clipUtils::settings()->sync();
    }
    // Rows encrypted under any other key must be uploaded again under this one.
    HistoryQueries::resetForKey(keyHash());
    requestRefresh();
}

bool ZeroManager::hasKey()
{
    if (m_key && m_cipher)
        return true;
    loadKeys();
    return m_key && m_cipher;
}

void ZeroManager::clearKeys()
{
    m_key.reset();
    m_cipher.reset();
    const QString key = storageKey();
    if (!key.isEmpty()) {
        clipUtils::settings()->remove(key);
        clipUtils::settings()->sync();
    }
}

void ZeroManager::clearAllKeys()
{
    m_pendingKey.reset();
    m_pendingCipher.reset();
    clearKeys();
}

QString ZeroManager::keyHash() const
{
    return m_key ? CindralRecords::hashText(m_key->hash) : QString();
}

QString ZeroManager::cipherHash() const
{
    return m_cipher ? CindralRecords::hashText(m_cipher->hash) : QString();
}

QByteArray ZeroManager::encryptData(const QByteArray &data) const
{
    if (!m_key || data.isEmpty())
        return QByteArray();
    unsigned char *out = nullptr;
    int64_t outLength = 0;
    ce_encrypt_data(reinterpret_cast<const unsigned char *>(data.constData()), data.size(), &out, &outLength,
                    m_key.get());
    return CindralRecords::adopt(out, outLength);
}

QByteArray ZeroManager::decryptData(const QByteArray &data) const
{
    if (!m_key || data.isEmpty())
        return QByteArray();
    unsigned char *out = nullptr;
    int64_t outLength = 0;
    ce_decrypt_data(reinterpret_cast<const unsigned char *>(data.constData()), data.size(), &out, &outLength,
                    m_key.get());
    return CindralRecords::adopt(out, outLength);
}

QString ZeroManager::encryptText(const QString &text) const
{
    return QString::fromLatin1(encryptData(text.toUtf8()).toBase64());
}

QString ZeroManager::decryptText(const QString &text) const
{
    const QByteArray plain = decryptData(QByteArray::fromBase64(text.toUtf8()));
    const int end = plain.indexOf('\0');
    return QString::fromUtf8(end < 0 ? plain : plain.left(end));
}

bool ZeroManager::encryptFile(const QString &sourcePath, const QString &targetPath) const
{
    if (!m_key || sourcePath.isEmpty() || targetPath.isEmpty())
        return false;
    return ce_encrypt(QFile::encodeName(targetPath).constData(), QFile::encodeName(sourcePath).constData(),
                      m_key.get())
        == 0;
}

bool ZeroManager::decryptFile(const QString &sourcePath, const QString &targetPath) const
{
    if (!m_key || sourcePath.isEmpty() || targetPath.isEmpty())
        return false;
    return ce_decrypt(QFile::encodeName(targetPath).constData(), QFile::encodeName(sourcePath).constData(),
                      m_key.get())
        == 0;
}

QByteArray ZeroManager::hashData(const QByteArray &salt, const QString &text) const
{
    if (salt.size() != CE_SALT_BYTES) {
        qWarning("e2ee: a salt of %d bytes; nothing hashed", int(salt.size()));
        return QByteArray();
    }
    const SecretUtf8 secret(text);
    QByteArray input;
    input.reserve(salt.size() + secret.size());
    input.append(salt).append(secret.data(), secret.size());
    unsigned char *out = nullptr;
    int32_t outLength = 0;
    ce_hash_data(reinterpret_cast<const unsigned char *>(input.constData()), input.size(), &out, &outLength);
    CindralRecords::wipe(input);
    return CindralRecords::adopt(out, outLength, true);
}

QString ZeroManager::hashText(const QByteArray &salt, const QString &text) const
{
    return QString::fromLatin1(hashData(salt, text).toBase64());
}

QByteArray ZeroManager::sealForServer(const QByteArray &data, const QByteArray &publicKey) const
{
    if (publicKey.size() < CE_PUBLIC_KEY_BYTES) {
        qWarning("e2ee: the server public key is shorter than 32 bytes; nothing sealed");
        return QByteArray();
    }
    unsigned char *out = nullptr;
    int64_t outLength = 0;
    ce_public_encrypt_sealed(reinterpret_cast<const unsigned char *>(data.constData()), data.size(), &out,
                             &outLength, reinterpret_cast<const unsigned char *>(publicKey.constData()));
    return CindralRecords::adopt(out, outLength);
}

QVariantMap ZeroManager::createKey(const QString &pin)
{
    if (pin.isEmpty())
        return QVariantMap();
    m_pendingKey.reset(ce_data_new());
    if (!m_pendingKey)
        return QVariantMap();
    const SecretUtf8 bytes(pin);
    m_pendingCipher.reset(ce_generate_cipher(bytes.data(), bytes.size(), m_pendingKey.get()));
    return keyDictionary(m_pendingKey.get(), m_pendingCipher.get());
}

QVariantMap ZeroManager::rewrapKey(const QString &pin)
{
    if (pin.isEmpty() || !m_key)
        return QVariantMap();
    m_pendingKey = CindralRecords::newKey();
    if (!m_pendingKey)
        return QVariantMap();
    std::memcpy(m_pendingKey.get(), m_key.get(), sizeof(ce_key_record));
    const SecretUtf8 bytes(pin);
    m_pendingCipher.reset(ce_generate_cipher(bytes.data(), bytes.size(), m_pendingKey.get()));
    return keyDictionary(m_pendingKey.get(), m_pendingCipher.get());
}

void ZeroManager::commitPendingKey()
{
    if (!m_pendingKey || !m_pendingCipher)
        return;
    m_key = std::move(m_pendingKey);
    m_cipher = std::move(m_pendingCipher);
    saveKeys();
}

bool ZeroManager::installUnwrapped(PinWork::Unwrapped &unwrapped, const QString &forStorageKey)
{
    if (!unwrapped.ok)
        return false;
    if (storageKey() != forStorageKey) {
        qInfo("e2ee: the account changed while the key was unwrapped; not imported");
        return false;
    }
    // Whatever was pending belongs to an earlier flow; only a fresh rewrap may follow an unlock.
    m_pendingKey.reset();
    m_pendingCipher.reset();
    if (unwrapped.rewrapped) {
        m_pendingKey = CindralRecords::newKey();
        if (m_pendingKey) {
            std::memcpy(m_pendingKey.get(), unwrapped.key.get(), sizeof(ce_key_record));
            m_pendingCipher = std::move(unwrapped.rewrapped);
        }
    }
    m_key = std::move(unwrapped.key);
    m_cipher = std::move(unwrapped.cipher);
    saveKeys();
    return true;
}

bool ZeroManager::importKey(const QString &pin, const QVariantMap &dictionary)
{
    if (pin.isEmpty() || dictionary.isEmpty())
        return false;
    const SecretUtf8 bytes(pin);
    return installUnwrapped(*PinWork::unwrap(QByteArray::fromRawData(bytes.data(), bytes.size()), dictionary), storageKey());
}

void ZeroManager::importKeyAsync(const QString &pin, const QVariantMap &dictionary, std::function<void(bool)> done)
{
    if (pin.isEmpty() || dictionary.isEmpty()) {
        QMetaObject::invokeMethod(this, [done] { done(false); }, Qt::QueuedConnection);
        return;
    }
    const SharedSecret bytes = shareSecret(pin);
    const QString forStorageKey = storageKey();
    runSlow<PinWork::Unwrapped>([bytes, dictionary] { return PinWork::unwrap(QByteArray::fromRawData(bytes->data(), bytes->size()), dictionary); },
                       [this, done, forStorageKey](std::shared_ptr<PinWork::Unwrapped> result) {
                           done(installUnwrapped(*result, forStorageKey));
                       });
}

void ZeroManager::createKeyAsync(const QString &pin, std::function<void(const QVariantMap &)> done)
{
    const SharedSecret bytes = shareSecret(pin);
    runSlow<PinWork::Created>([bytes] { return PinWork::create(QByteArray::fromRawData(bytes->data(), bytes->size())); },
                              [this, done](std::shared_ptr<PinWork::Created> created) {
                                  if (!created->key || !created->cipher) {
                                      done(QVariantMap());
                                      return;
                                  }
                                  m_pendingKey = std::move(created->key);
                                  m_pendingCipher = std::move(created->cipher);
                                  done(keyDictionary(m_pendingKey.get(), m_pendingCipher.get()));
                              });
}

ZeroManager::PinChange ZeroManager::installRewrapped(PinWork::Rewrapped &rewrapped)
{
    PinChange change;
    change.wrongPin = rewrapped.check < 0;
    if (!rewrapped.key || !rewrapped.cipher)
        return change;
    m_pendingKey = std::move(rewrapped.key);
    m_pendingCipher = std::move(rewrapped.cipher);
    change.dictionary = keyDictionary(m_pendingKey.get(), m_pendingCipher.get());
    change.lastPinHash = rewrapped.proof;
    change.earlierWrap = rewrapped.check == CE_UNWRAPPED_EARLIER;
    return change;
}

ZeroManager::PinChange ZeroManager::changePin(const QString &lastPin, const QString &newPin)
{
    if (lastPin.isEmpty() || newPin.isEmpty() || !m_key || !m_cipher)
        return PinChange();
    const SecretUtf8 last(lastPin);
    const SecretUtf8 next(newPin);
    return installRewrapped(*PinWork::rewrap(QByteArray::fromRawData(last.data(), last.size()),
                                    QByteArray::fromRawData(next.data(), next.size()), *m_key, *m_cipher));
}

void ZeroManager::changePinAsync(const QString &lastPin, const QString &newPin,
                                 std::function<void(const PinChange &)> done)
{
    if (lastPin.isEmpty() || newPin.isEmpty() || !m_key || !m_cipher) {
        QMetaObject::invokeMethod(this, [done] { done(PinChange()); }, Qt::QueuedConnection);
        return;
    }
    const SharedSecret last = shareSecret(lastPin);
    const SharedSecret next = shareSecret(newPin);
    // The worker gets copies: the current pair may change while it runs.
    const auto key = std::shared_ptr<ce_key_record>(CindralRecords::newKey().release(), CindralRecordRelease());
    if (!key) {
        QMetaObject::invokeMethod(this, [done] { done(PinChange()); }, Qt::QueuedConnection);
        return;
    }
    std::memcpy(key.get(), m_key.get(), sizeof(ce_key_record));
    const ce_cipher_record cipher = *m_cipher;
    runSlow<PinWork::Rewrapped>(
        [last, next, key, cipher] {
            return PinWork::rewrap(QByteArray::fromRawData(last->data(), last->size()),
                          QByteArray::fromRawData(next->data(), next->size()), *key, cipher);
        },
        [this, done](std::shared_ptr<PinWork::Rewrapped> result) { done(installRewrapped(*result)); });
}

QVariantMap ZeroManager::pendingDictionary() const
{
    return keyDictionary(m_pendingKey.get(), m_pendingCipher.get());
}

bool ZeroManager::verifyHashes(const QVariantMap &dictionary)
{
    const QString serverKeyHash = dictionary.value(name(KeyDict::KeyHash)).toString();
    const QString serverCipherHash = dictionary.value(name(KeyDict::CipherHash)).toString();
    if (serverKeyHash.isEmpty() || serverCipherHash.isEmpty() || !m_key || !m_cipher)
        return true;
    const bool keyDiffers = serverKeyHash != keyHash();
    if (!keyDiffers && serverCipherHash == cipherHash())
        return true;

    qInfo(keyDiffers ? "e2ee: the service holds another key; the local key pair is discarded"
                     : "e2ee: the PIN was changed elsewhere; the local key pair is discarded");
    clearKeys();
    if (keyDiffers)
        HistoryQueries::resetForKey(serverKeyHash);
    requestRefresh();
    return false;
}

QVariantMap ZeroManager::keyDictionary(const ce_key_record *key, const ce_cipher_record *cipher)
{
    if (!key || !cipher)
        return QVariantMap();
    const QByteArray wrapped(reinterpret_cast<const char *>(cipher->wrapped), CE_WRAPPED_BYTES);
    QVariantMap dictionary;
    dictionary.insert(name(KeyDict::KeyTimestamp), qint64(key->timestamp));
    dictionary.insert(name(KeyDict::KeyHash), CindralRecords::hashText(key->hash));
    dictionary.insert(name(KeyDict::Cipher), QString::fromLatin1(wrapped.toBase64()));
    dictionary.insert(name(KeyDict::CipherTimestamp), qint64(cipher->timestamp));
    dictionary.insert(name(KeyDict::CipherHash), CindralRecords::hashText(cipher->hash));
    dictionary.insert(name(KeyDict::Version), name(KeyDict::VersionValue));
    dictionary.insert(name(KeyDict::Platform), clipUtils::platformName());
    return dictionary;
}

void ZeroManager::requestRefresh()
{
    Q_EMIT menuUpdateRequested();
    Q_EMIT keysChanged();
}
