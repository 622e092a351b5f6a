// The engine's formats, checked against libsodium directly as README.md describes
// them: another implementation (the service, another build) must be able to do
// exactly what these checks do.
#include "support/TestMain.h"

#include <cindral.h>
#include <sodium.h>

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

QByteArray bytesOf(const unsigned char *p, size_t n) { return QByteArray(reinterpret_cast<const char *>(p), int(n)); }
const unsigned char *raw(const QByteArray &b) { return reinterpret_cast<const unsigned char *>(b.constData()); }

QByteArray argon2id(const QByteArray &input, const QByteArray &salt, bool earlierLimits = false)
{
    unsigned char out[32];
    if (crypto_pwhash(out, sizeof out, input.constData(), quint64(input.size()), raw(salt),
                      earlierLimits ? crypto_pwhash_OPSLIMIT_INTERACTIVE : crypto_pwhash_OPSLIMIT_MODERATE,
                      earlierLimits ? crypto_pwhash_MEMLIMIT_INTERACTIVE : crypto_pwhash_MEMLIMIT_MODERATE,
                      crypto_pwhash_ALG_ARGON2ID13)
        != 0)
        return QByteArray();
    return bytesOf(out, sizeof out);
}

QByteArray blake2b(int outLen, const QByteArray &message, const QByteArray &key = QByteArray())
{
    unsigned char out[64];
    crypto_generichash(out, size_t(outLen), raw(message), quint64(message.size()), key.isEmpty() ? nullptr : raw(key),
                       size_t(key.size()));
    return bytesOf(out, size_t(outLen));
}

struct Freed {
    void operator()(void *p) const { std::free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, Freed>;

} // namespace

class TestCindral : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(sodium_init() >= 0); }

    void generatedKeys()
    {
        const QByteArray domain = blake2b(32, "cindral key hash v1");
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        QSet<QByteArray> seen;
        for (int i = 0; i < 1000; ++i) {
            Owned<ce_key_record> record(ce_data_new());
            QVERIFY(record);
            QVERIFY(record->key[0] != 0);
            const QByteArray key = bytesOf(record->key, 32);
            QVERIFY(!seen.contains(key));
            seen.insert(key);
            QCOMPARE(QByteArray(record->hash, 64), blake2b(16, key, domain).toHex() + QByteArray(32, '\0'));
            QVERIFY(qAbs(record->timestamp - now) < 60);
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(record->reserved), 8), QByteArray(8, '\0'));
        }
    }

    // Unwrapping and the PIN verifier, done with libsodium alone from the cipher hash text.
    void wrappingFormat()
    {
        Owned<ce_key_record> key(ce_data_new());
        const QByteArray pin = QStringLiteral("pïn-42").toUtf8();
        Owned<ce_cipher_record> cipher(ce_generate_cipher(pin.constData(), pin.size(), key.get()));
        QVERIFY(cipher);
        const QByteArray hashText(cipher->hash, 64);
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(QString::fromLatin1(hashText)).hasMatch());
        const QByteArray salt = QByteArray::fromHex(hashText.left(32));
        const QByteArray verifier = QByteArray::fromHex(hashText.mid(32));
        const QByteArray wrapped = bytesOf(cipher->wrapped, 48);

        const QByteArray master = argon2id(pin, salt);
        const QByteArray wrappingKey = blake2b(32, "cindral wrap key v2", master);
        const QByteArray nonce = blake2b(24, salt);
        unsigned char unwrapped[32];
        QCOMPARE(crypto_secretbox_open_easy(unwrapped, raw(wrapped), 48, raw(nonce), raw(wrappingKey)), 0);
        QCOMPARE(bytesOf(unwrapped, 32), bytesOf(key->key, 32));

        // The service's check: the proof over this wrap's salt reproduces the verifier.
        const QByteArray proof = blake2b(32, "cindral pin proof v2", master);
        const auto verifies = [&](const QByteArray &candidate, const QByteArray &saltOf, const QByteArray &wrappedOf,
                                  const QByteArray &verifierOf) {
            return blake2b(16, "cindral verifier v2" + saltOf + wrappedOf, candidate) == verifierOf;
        };
        QVERIFY(verifies(proof, salt, wrapped, verifier));
        unsigned char *hashOut = nullptr;
        int32_t hashLen = 0;
        QCOMPARE(ce_hash_data(raw(salt + pin), salt.size() + pin.size(), &hashOut, &hashLen), 0);
        QCOMPARE(bytesOf(hashOut, size_t(hashLen)), proof);
        std::free(hashOut);
        // The first construction's unsalted hash of the PIN proves nothing.
        QVERIFY(!verifies(argon2id(pin, "cindral-hash-v01", true), salt, wrapped, verifier));
        QVERIFY(!verifies(wrappingKey, salt, wrapped, verifier));
        hashOut = reinterpret_cast<unsigned char *>(1);
        QVERIFY(ce_hash_data(raw(salt), 15, &hashOut, &hashLen) != 0);
        QVERIFY(!hashOut && hashLen == 0);

        // The same PIN wrapped again (another user, another device): nothing shared.
        Owned<ce_cipher_record> other(ce_generate_cipher(pin.constData(), pin.size(), key.get()));
        const QByteArray otherText(other->hash, 64);
        QVERIFY(otherText.left(32) != hashText.left(32));
        QVERIFY(otherText.mid(32) != hashText.mid(32));
        QVERIFY(!verifies(proof, QByteArray::fromHex(otherText.left(32)), bytesOf(other->wrapped, 48),
                          QByteArray::fromHex(otherText.mid(32))));

        unsigned char out[32];
        QCOMPARE(ce_decrypt_key_data(pin.constData(), pin.size(), other.get(), out), 0);
        QCOMPARE(bytesOf(out, 32), bytesOf(key->key, 32));
    }

    // A wrap of the first construction (Argon2id at the interactive limits keyed the
    // box directly) still opens, reported so that the caller wraps the key anew.
    void earlierWrapStillOpens()
    {
        Owned<ce_key_record> key(ce_data_new());
        const QByteArray pin("1234");
        const QByteArray salt = QByteArray::fromHex("00112233445566778899aabbccddeeff");
        ce_cipher_record earlier;
        std::memset(&earlier, 0, sizeof earlier);
        crypto_secretbox_easy(earlier.wrapped, key->key, 32, raw(blake2b(24, salt)), raw(argon2id(pin, salt, true)));
        std::memcpy(earlier.hash, salt.toHex().constData(), 32);
        std::memset(earlier.hash + 32, 'a', 32);

        unsigned char out[32];
        QCOMPARE(ce_decrypt_key_data(pin.constData(), pin.size(), &earlier, out), int(CE_UNWRAPPED_EARLIER));
        QCOMPARE(bytesOf(out, 32), bytesOf(key->key, 32));
        QVERIFY(ce_decrypt_key_data("1235", 4, &earlier, out) < 0);
        QCOMPARE(bytesOf(out, 32), QByteArray(32, '\0'));
    }

    // Whether a key hash received with a wrapped key belongs to it.
    void keyHashCheck()
    {
        Owned<ce_key_record> key(ce_data_new());
        QCOMPARE(ce_check_key_hash(key.get()), 0);
        // A changed fingerprint, a changed key, text after the fingerprint.
        for (const auto &damage : {+[](ce_key_record &r) { r.hash[5] ^= 1; }, +[](ce_key_record &r) { r.key[31] ^= 1; },
                                   +[](ce_key_record &r) { r.hash[40] = 'x'; }}) {
            ce_key_record copy = *key;
            damage(copy);
            QVERIFY(ce_check_key_hash(&copy) != 0);
        }
        QVERIFY(ce_check_key_hash(nullptr) != 0);
    }

    void dataFormat()
    {
        Owned<ce_key_record> key(ce_data_new());
        const QByteArray plain("attack at dawn");
        unsigned char *out = nullptr;
        int64_t outLen = 0;
        QCOMPARE(ce_encrypt_data(raw(plain), plain.size(), &out, &outLen, key.get()), 0);
        QByteArray sealed = bytesOf(out, size_t(outLen));
        std::free(out);
        QCOMPARE(sealed.size(), 24 + plain.size() + 16);
        unsigned char opened[64];
        unsigned long long openedLen = 0;
        QCOMPARE(crypto_aead_xchacha20poly1305_ietf_decrypt(opened, &openedLen, nullptr, raw(sealed) + 24,
                                                            quint64(sealed.size() - 24), nullptr, 0, raw(sealed),
                                                            key->key),
                 0);
        QCOMPARE(bytesOf(opened, openedLen), plain);

        // A forged message is an error, not an empty plaintext.
        sealed[30] = char(sealed[30] ^ 0x01);
        out = nullptr;
        QVERIFY(ce_decrypt_data(raw(sealed), sealed.size(), &out, &outLen, key.get()) != 0);
        QVERIFY(!out);
    }

    // Header, then 64 KiB chunks; a file of whole chunks ends in an empty final chunk.
    void fileFormat()
    {
        QTemporaryDir dir;
        Owned<ce_key_record> key(ce_data_new());
        const QByteArray plain = QByteArray(2 * 65536, 'z');
        const QString source = dir.filePath(QStringLiteral("plain"));
        const QString target = dir.filePath(QStringLiteral("sealed"));
        QFile f(source);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(plain) == plain.size());
        f.close();
        QCOMPARE(ce_encrypt(target.toUtf8().constData(), source.toUtf8().constData(), key.get()), 0);
        QFile s(target);
        QVERIFY(s.open(QIODevice::ReadOnly));
        QByteArray sealed = s.readAll();
        s.close();
        QCOMPARE(sealed.size(), 24 + 3 * 17 + plain.size());

        crypto_secretstream_xchacha20poly1305_state state;
        QCOMPARE(crypto_secretstream_xchacha20poly1305_init_pull(&state, raw(sealed), key->key), 0);
        QByteArray opened(65536, '\0');
        unsigned char tag = 0;
        int offset = 24;
        QByteArray joined;
        for (int chunk = 0; chunk < 3; ++chunk) {
            const int len = qMin(65536 + 17, sealed.size() - offset);
            unsigned long long n = 0;
            QCOMPARE(crypto_secretstream_xchacha20poly1305_pull(
                         &state, reinterpret_cast<unsigned char *>(opened.data()), &n, &tag, raw(sealed) + offset,
                         quint64(len), nullptr, 0),
                     0);
            joined += opened.left(int(n));
            offset += len;
            QCOMPARE(tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL, chunk == 2);
        }
        QCOMPARE(joined, plain);

        // Anything after the final chunk is refused.
        QVERIFY(s.open(QIODevice::Append) && s.write("x") == 1);
        s.close();
        const QString back = dir.filePath(QStringLiteral("back"));
        QVERIFY(ce_decrypt(back.toUtf8().constData(), target.toUtf8().constData(), key.get()) != 0);
        QVERIFY(!QFile::exists(back));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
    }

};

ZORVEL_TEST_MAIN(TestCindral)
#include "tst_cindral.moc"
