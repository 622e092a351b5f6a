#include "e2ee/PinWork.h"

#include "app/Constants.h"

#include <QtDebug>

#include <sodium.h>

#include <cstring>

using namespace Zorvel;

namespace {

QString name(const char *key) { return QLatin1String(key); }

} // namespace

std::shared_ptr<PinWork::Unwrapped> PinWork::unwrap(const QByteArray &pin, const QVariantMap &dictionary)
{
    auto result = std::make_shared<Unwrapped>();
    const QByteArray wrapped = QByteArray::fromBase64(dictionary.value(name(KeyDict::Cipher)).toString().toLatin1());
    const QByteArray cipherHashText = dictionary.value(name(KeyDict::CipherHash)).toString().toUtf8();
    const QByteArray keyHashText = dictionary.value(name(KeyDict::KeyHash)).toString().toUtf8();
    if (wrapped.size() < CE_WRAPPED_BYTES || keyHashText.isEmpty()) {
        qWarning("e2ee: the key dictionary lacks a usable cipher or key hash; not imported");
        return result;
    }
    CipherRecordPtr cipher = CindralRecords::newCipher();
    KeyRecordPtr key = CindralRecords::newKey();
    if (!cipher || !key)
        return result;
    if (!CindralRecords::setHashText(cipher->hash, cipherHashText)
        || !CindralRecords::setHashText(key->hash, keyHashText)) {
        qWarning("e2ee: a hash in the key dictionary is longer than 64 bytes; not imported");
        return result;
    }
    std::memcpy(cipher->wrapped, wrapped.constData(), CE_WRAPPED_BYTES);
    cipher->timestamp = dictionary.value(name(KeyDict::CipherTimestamp)).toLongLong();

    unsigned char unwrapped[CE_KEY_BYTES] = {};
    const int rc = ce_decrypt_key_data(pin.constData(), pin.size(), cipher.get(), unwrapped);
    const bool unwrappedOk = rc >= 0 && unwrapped[0] != 0;
    std::memcpy(key->key, unwrapped, CE_KEY_BYTES);
    CindralRecords::wipe(unwrapped, sizeof unwrapped);
    if (!unwrappedOk) {
        qInfo("e2ee: the PIN does not unwrap the key");
        return result;
    }
    // The service could pair a wrapped key with another key's hash; rows and requests
    // would then name a key that is not the one in use.
    if (ce_check_key_hash(key.get()) != 0) {
        qWarning("e2ee: the key hash in the key dictionary is not the unwrapped key's; not imported");
        return result;
    }
    key->timestamp = dictionary.value(name(KeyDict::KeyTimestamp)).toLongLong();
    if (rc == CE_UNWRAPPED_EARLIER) {
        qInfo("e2ee: the key was wrapped by the first construction; wrapping it anew");
        result->rewrapped.reset(ce_generate_cipher(pin.constData(), pin.size(), key.get()));
    }
    result->key = std::move(key);
    result->cipher = std::move(cipher);
    result->ok = true;
    return result;
}

std::shared_ptr<PinWork::Created> PinWork::create(const QByteArray &pin)
{
    auto created = std::make_shared<Created>();
    if (pin.isEmpty())
        return created;
    created->key.reset(ce_data_new());
    if (created->key)
        created->cipher.reset(ce_generate_cipher(pin.constData(), pin.size(), created->key.get()));
    return created;
}

std::shared_ptr<PinWork::Rewrapped> PinWork::rewrap(const QByteArray &lastPin, const QByteArray &newPin,
                                                    const ce_key_record &key, const ce_cipher_record &cipher)
{
    auto result = std::make_shared<Rewrapped>();
    unsigned char unwrapped[CE_KEY_BYTES] = {};
    result->check = ce_decrypt_key_data(lastPin.constData(), lastPin.size(), &cipher, unwrapped);
    const bool sameKey = sodium_memcmp(unwrapped, key.key, CE_KEY_BYTES) == 0;
    CindralRecords::wipe(unwrapped, sizeof unwrapped);
    if (result->check < 0 || !sameKey) {
        result->check = -1;
        return result;
    }
    if (result->check == 0) {
        QByteArray input = QByteArray::fromHex(QByteArray(cipher.hash, 2 * CE_SALT_BYTES));
        input += lastPin;
        unsigned char *out = nullptr;
        int32_t outLength = 0;
        ce_hash_data(reinterpret_cast<const unsigned char *>(input.constData()), input.size(), &out, &outLength);
        CindralRecords::wipe(input);
        result->proof = QString::fromLatin1(CindralRecords::adopt(out, outLength, true).toBase64());
        if (result->proof.isEmpty())
            return result;
    }
    result->key = CindralRecords::newKey();
    if (!result->key)
        return result;
    std::memcpy(result->key.get(), &key, sizeof key);
    result->cipher.reset(ce_generate_cipher(newPin.constData(), newPin.size(), result->key.get()));
    return result;
}
