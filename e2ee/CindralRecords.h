#pragma once

#include <cindral.h>

#include <QByteArray>
#include <QString>

#include <memory>

// Releases an engine record with free(), wiping it first: the key record holds the
// content key in clear.
struct CindralRecordRelease {
    void operator()(ce_key_record *record) const;
    void operator()(ce_cipher_record *record) const;
};

using KeyRecordPtr = std::unique_ptr<ce_key_record, CindralRecordRelease>;
using CipherRecordPtr = std::unique_ptr<ce_cipher_record, CindralRecordRelease>;

// Conversions between the engine's fixed-size records and Qt values.
namespace CindralRecords {

// Zero-filled records from the C heap (null when allocation fails).
KeyRecordPtr newKey();
CipherRecordPtr newCipher();

// The first 112 / 128 bytes as a record; null when the bytes are shorter than the layout.
KeyRecordPtr keyFromBytes(const QByteArray &bytes);
CipherRecordPtr cipherFromBytes(const QByteArray &bytes);
QByteArray toBytes(const ce_key_record &record);
QByteArray toBytes(const ce_cipher_record &record);

// A hash field read as Latin-1 up to the first NUL, never past the field.
QString hashText(const char (&field)[CE_HASH_TEXT_BYTES]);
// Copies text into a hash field, NUL-padded; false (field untouched) when it does not fit.
bool setHashText(char (&field)[CE_HASH_TEXT_BYTES], const QByteArray &text);

// Copies an engine output buffer into a byte array and frees it (wiping it when secret).
QByteArray adopt(unsigned char *buffer, qint64 length, bool secret = false);

// Overwrites the bytes of a buffer the caller owns.
void wipe(QByteArray &bytes);
// Overwrites and empties a text (its own copy; other shared copies are not reached).
void wipe(QString &text);
void wipe(void *data, size_t size);

} // namespace CindralRecords
