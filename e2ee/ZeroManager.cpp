#include "e2ee/ZeroManager.h"

#include "app/Constants.h"
#include "app/clipUtils.h"
#include "store/HistoryQueries.h"

#include <QFile>
#include <QSettings>
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

} // namespace

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

QByteArray ZeroManager::hashData(const QString &text) const
{
    SecretUtf8 input(text);
    unsigned char *out = nullptr;
    int32_t outLength = 0;
    ce_hash_data(reinterpret_cast<const unsigned char *>(input.data()), input.size(), &out, &outLength);
    return CindralRecords::adopt(out, outLength, true);
}

QString ZeroManager::hashText(const QString &text) const
{
    return QString::fromLatin1(hashData(text).toBase64());
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

bool ZeroManager::importKey(const QString &pin, const QVariantMap &dictionary)
{
    if (pin.isEmpty() || dictionary.isEmpty())
        return false;
    const QByteArray wrapped = QByteArray::fromBase64(dictionary.value(name(KeyDict::Cipher)).toString().toLatin1());
    const QByteArray cipherHashText = dictionary.value(name(KeyDict::CipherHash)).toString().toUtf8();
    const QByteArray keyHashText = dictionary.value(name(KeyDict::KeyHash)).toString().toUtf8();
    if (wrapped.size() < CE_WRAPPED_BYTES || keyHashText.isEmpty()) {
        qWarning("e2ee: the key dictionary lacks a usable cipher or key hash; not imported");
        return false;
    }

    CipherRecordPtr cipher = CindralRecords::newCipher();
    KeyRecordPtr key = CindralRecords::newKey();
    if (!cipher || !key)
        return false;
    if (!CindralRecords::setHashText(cipher->hash, cipherHashText)
        || !CindralRecords::setHashText(key->hash, keyHashText)) {
        qWarning("e2ee: a hash in the key dictionary is longer than 64 bytes; not imported");
        return false;
    }
    std::memcpy(cipher->wrapped, wrapped.constData(), CE_WRAPPED_BYTES);
    cipher->timestamp = dictionary.value(name(KeyDict::CipherTimestamp)).toLongLong();

    const SecretUtf8 bytes(pin);
    unsigned char unwrapped[CE_KEY_BYTES] = {};
    ce_decrypt_key_data(bytes.data(), bytes.size(), cipher.get(), unwrapped);
    const bool unwrappedOk = unwrapped[0] != 0;
    std::memcpy(key->key, unwrapped, CE_KEY_BYTES);
    CindralRecords::wipe(unwrapped, sizeof unwrapped);
    if (!unwrappedOk) {
        qInfo("e2ee: the PIN does not unwrap the key");
        return false;
    }
    key->timestamp = dictionary.value(name(KeyDict::KeyTimestamp)).toLongLong();

    m_key = std::move(key);
    m_cipher = std::move(cipher);
    saveKeys();
    return true;
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
    Q_EMIT keysChanged();
}
