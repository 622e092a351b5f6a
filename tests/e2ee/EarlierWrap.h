#pragma once

// A key dictionary as the first wrapping construction made it: Argon2id of the PIN
// at the interactive limits keyed the box directly (no verifier the service can
// check with a salted proof). Stands for keys stored before the current construction.

#include <sodium.h>

#include <QVariantMap>

inline QVariantMap earlierWrap(const QVariantMap &dictionary, const QByteArray &key, const QByteArray &pin)
{
    const QByteArray salt = QByteArray::fromHex("0f0e0d0c0b0a09080706050403020100");
    const auto *saltBytes = reinterpret_cast<const unsigned char *>(salt.constData());
    unsigned char wrappingKey[32];
    unsigned char nonce[24];
    if (crypto_pwhash(wrappingKey, sizeof wrappingKey, pin.constData(), quint64(pin.size()), saltBytes,
                      crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE,
                      crypto_pwhash_ALG_ARGON2ID13)
        != 0)
        return QVariantMap();
    crypto_generichash(nonce, sizeof nonce, saltBytes, 16, nullptr, 0);
    QByteArray wrapped(48, '\0');
    crypto_secretbox_easy(reinterpret_cast<unsigned char *>(wrapped.data()),
                          reinterpret_cast<const unsigned char *>(key.constData()), 32, nonce, wrappingKey);
    QVariantMap earlier = dictionary;
    earlier.insert(QStringLiteral("cipher"), QString::fromLatin1(wrapped.toBase64()));
    earlier.insert(QStringLiteral("cipher_hash"), QString::fromLatin1(salt.toHex()) + QString(32, QLatin1Char('a')));
    return earlier;
}
