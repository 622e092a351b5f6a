#include "e2ee/CindralRecords.h"

#include <sodium.h>

#include <climits>
#include <cstdlib>
#include <cstring>

void CindralRecordRelease::operator()(ce_key_record *record) const
{
    if (!record)
        return;
    sodium_memzero(record, sizeof *record);
    std::free(record);
}

void CindralRecordRelease::operator()(ce_cipher_record *record) const
{
    if (!record)
        return;
    sodium_memzero(record, sizeof *record);
    std::free(record);
}

namespace CindralRecords {

namespace {

template <typename Record>
Record *allocate()
{
    return static_cast<Record *>(std::calloc(1, sizeof(Record)));
}

template <typename Record>
Record *fromBytes(const QByteArray &bytes)
{
    if (bytes.size() < int(sizeof(Record)))
        return nullptr;
    Record *record = allocate<Record>();
    if (record)
        std::memcpy(record, bytes.constData(), sizeof(Record));
    return record;
}

} // namespace

KeyRecordPtr newKey() { return KeyRecordPtr(allocate<ce_key_record>()); }
CipherRecordPtr newCipher() { return CipherRecordPtr(allocate<ce_cipher_record>()); }

KeyRecordPtr keyFromBytes(const QByteArray &bytes) { return KeyRecordPtr(fromBytes<ce_key_record>(bytes)); }
CipherRecordPtr cipherFromBytes(const QByteArray &bytes)
{
    return CipherRecordPtr(fromBytes<ce_cipher_record>(bytes));
}

QByteArray toBytes(const ce_key_record &record)
{
    return QByteArray(reinterpret_cast<const char *>(&record), sizeof record);
}

QByteArray toBytes(const ce_cipher_record &record)
{
    return QByteArray(reinterpret_cast<const char *>(&record), sizeof record);
}

QString hashText(const char (&field)[CE_HASH_TEXT_BYTES])
{
    return QString::fromLatin1(field, int(qstrnlen(field, CE_HASH_TEXT_BYTES)));
}

bool setHashText(char (&field)[CE_HASH_TEXT_BYTES], const QByteArray &text)
{
    if (text.size() > CE_HASH_TEXT_BYTES)
        return false;
    std::memset(field, 0, CE_HASH_TEXT_BYTES);
    std::memcpy(field, text.constData(), size_t(text.size()));
    return true;
}

QByteArray adopt(unsigned char *buffer, qint64 length, bool secret)
{
    QByteArray bytes;
    if (buffer && length > 0 && length <= qint64(INT_MAX))
        bytes = QByteArray(reinterpret_cast<const char *>(buffer), int(length));
    if (buffer && secret && length > 0)
        sodium_memzero(buffer, size_t(length));
    std::free(buffer);
    return bytes;
}

void wipe(QByteArray &bytes)
{
    if (!bytes.isEmpty())
        wipe(bytes.data(), size_t(bytes.size()));
}

void wipe(QString &text)
{
    if (!text.isEmpty())
        wipe(text.data(), size_t(text.size()) * sizeof(QChar));
    text.clear();
}

void wipe(void *data, size_t size)
{
    sodium_memzero(data, size);
}

} // namespace CindralRecords
