#pragma once

#include "e2ee/CindralRecords.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <memory>

// The slow PIN operations over the engine (one Argon2id run each, about a second),
// free of any shared state so that ZeroManager can run them on a worker thread.
// PINs come as UTF-8 bytes the caller owns and wipes.
namespace PinWork {

struct Created {
    KeyRecordPtr key;
    CipherRecordPtr cipher;
};

struct Unwrapped {
    KeyRecordPtr key;
    CipherRecordPtr cipher;
    // A wrap of the first construction: the same key wrapped anew under the same PIN.
    CipherRecordPtr rewrapped;
    bool ok = false;
};

struct Rewrapped {
    KeyRecordPtr key;
    CipherRecordPtr cipher; // the key under the new PIN
    QString proof;          // Base64 of the current PIN's proof over the current salt
    int check = -1;         // how the current PIN opened the current wrap (ce_decrypt_key_data)
};

// A new content key wrapped under the PIN (nothing for an empty PIN).
std::shared_ptr<Created> create(const QByteArray &pin);
// The key of a server key dictionary, refused when its "key_hash" is not the key's.
std::shared_ptr<Unwrapped> unwrap(const QByteArray &pin, const QVariantMap &dictionary);
// Checks the current PIN against the current wrap, then wraps the key under the new PIN.
std::shared_ptr<Rewrapped> rewrap(const QByteArray &lastPin, const QByteArray &newPin, const ce_key_record &key,
                                  const ce_cipher_record &cipher);

} // namespace PinWork
