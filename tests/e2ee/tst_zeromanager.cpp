// Key life cycle, persistence and the hash check against the service; encryption of
// texts, bytes and files under the current key; the engine's formats underneath; the
// PIN wizard in front and what the key requests put in their bodies (never a PIN or
// a password).
#include "support/TestMain.h"

#include "EarlierWrap.h"
#include "WizardDriver.h"
#include "app/Constants.h"
#include "app/clipUtils.h"
#include "desktop/PINPage.h"
#include "e2ee/ZeroManager.h"
#include "net/CRequestZeroGet.h"
#include "net/CRequestZeroModify.h"
#include "net/CRequestZeroPush.h"
#include "net/CRequestZeroRevert.h"
#include "support/StoreHelper.h"
#include "store/HistoryQueries.h"

#include <cindral.h>
#include <sodium.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cstring>

namespace {

const QString kStored = "user_42_key";

void signIn(const QString &token)
{
    clipUtils::settings()->setValue("user_id", "42");
    clipUtils::settings()->setValue("user_token", token);
}

QVariantMap stored() { return clipUtils::settings()->value(kStored).toMap(); }

// A row that has been uploaded under keyHash (empty: never encrypted).
QString addRow(int i, const QString &keyHash, bool localFileOk = true)
{
    History h;
    h.setContent(QString("row %1").arg(i));
    h.setFileHash(clipUtils::md5Hex(QByteArray::number(i)));
    h.setTimeStamp(1000 + i);
    h.setType("text_txt+enc");
    h.setHistoryId(100 + i);
    h.setFileReady(true);
    h.setLocalFileOk(localFileOk);
    h.setKeyHash(keyHash);
    h.save();
    return h.file_hash();
}

History row(const QString &fileHash) { return StoreHelper::stored(fileHash); }

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    randombytes_buf(bytes.data(), size_t(size));
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const unsigned char *raw(const QByteArray &b) { return reinterpret_cast<const unsigned char *>(b.constData()); }
unsigned char *raw(QByteArray &b) { return reinterpret_cast<unsigned char *>(b.data()); }

QByteArray blake2b(int outLen, const QByteArray &message, const QByteArray &key = QByteArray())
{
    QByteArray out(outLen, '\0');
    crypto_generichash(raw(out), size_t(outLen), raw(message), quint64(message.size()), key.isEmpty() ? nullptr : raw(key),
                       size_t(key.size()));
    return out;
}

QJsonObject bodyOf(CBaseRequest &request)
{
    request.buildBody();
    return QJsonDocument::fromJson(request.body()).object();
}

} // namespace

class TestZeroManager : public QObject
{
    Q_OBJECT

    ZeroManager *zm = nullptr;
    QTemporaryDir dir;
    QVariantMap m_contentKey; // the stored pair the file "sealed" was made with

    QString path(const char *name) const { return dir.filePath(name); }
    bool useContentKey()
    {
        clipUtils::settings()->setValue(kStored, m_contentKey);
        return zm->hasKey();
    }

    QVariantMap createCurrent(const QString &pin)
    {
        const QVariantMap dictionary = zm->createKey(pin);
        zm->commitPendingKey();
        return dictionary;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(DBFetcher::instance()->isOpen());
        zm = ZeroManager::instance();
        signIn("token");
        createCurrent("4321");
        m_contentKey = stored();
        QVERIFY(writeFile(path("plain"), randomBytes(int(Zorvel::kMaxEntryBytes))));
        QVERIFY(zm->encryptFile(path("plain"), path("sealed")));
    }

    void init()
    {
        signIn("token");
        zm->clearAllKeys();
        HistoryQueries::takeAll();
    }

    void freshInstallHasNothing()
    {
        QVERIFY(!zm->hasKey() && zm->keyHash().isEmpty() && zm->cipherHash().isEmpty());
        QVERIFY(zm->encryptText("x").isEmpty() && zm->decryptData("x").isEmpty());
        QVERIFY(!zm->encryptFile("/etc/hostname", QDir::temp().filePath("zm-x")));
        QVERIFY(zm->createKey(QString()).isEmpty());
        QVERIFY(zm->rewrapKey("1234").isEmpty());
    }

    // The pair travels as the dictionary, is stored per user in the record layouts,
    // comes back after a restart and goes with sign-out.
    void createCommitAndPersist()
    {
        QSignalSpy keysChanged(zm, &ZeroManager::keysChanged);
        const QVariantMap dict = zm->createKey("1234");
        QVERIFY(!zm->hasKey()); // pending only
        QCOMPARE(dict.value("version").toString(), QString("1.0"));
        QCOMPARE(dict.value("platform").toString(), clipUtils::platformName());
        QCOMPARE(dict.value("key_hash").toString().size(), 32);
        QCOMPARE(dict.value("cipher_hash").toString().size(), 64);
        zm->commitPendingKey();
        QVERIFY(zm->hasKey());
        QCOMPARE(keysChanged.count(), 1);
        QCOMPARE(zm->keyHash(), dict.value("key_hash").toString());
        QCOMPARE(zm->cipherHash(), dict.value("cipher_hash").toString());

        const QVariantMap entry = stored();
        const QByteArray keyData = entry.value("keyData").toByteArray();
        const QByteArray cipherData = entry.value("cipherData").toByteArray();
        QCOMPARE(keyData.size(), 112);
        QCOMPARE(cipherData.size(), 128);
        QCOMPARE(keyData.mid(40, 32), zm->keyHash().toLatin1());
        QCOMPARE(qFromLittleEndian<qint64>(keyData.constData() + 32), dict.value("key_timestamp").toLongLong());
        QCOMPARE(cipherData.left(48).toBase64(), dict.value("cipher").toString().toLatin1());
        QCOMPARE(qFromLittleEndian<qint64>(cipherData.constData() + 48),
                 dict.value("cipher_timestamp").toLongLong());
        QCOMPARE(cipherData.mid(56, 64), zm->cipherHash().toLatin1());
        QCOMPARE(keyData.right(8) + cipherData.right(8), QByteArray(16, '\0'));

        // Restart: the entry alone brings the pair back.
        const QString keyHash = zm->keyHash();
        zm->clearAllKeys();
        QVERIFY(!clipUtils::settings()->contains(kStored));
        clipUtils::settings()->setValue(kStored, entry);
        QVERIFY(zm->hasKey());
        QCOMPARE(zm->keyHash(), keyHash);

        // Records shorter than their layout are not read.
        zm->clearAllKeys();
        QVariantMap damaged = entry;
        damaged.insert("cipherData", cipherData.left(127));
        clipUtils::settings()->setValue(kStored, damaged);
        QVERIFY(!zm->hasKey());

        // Signed out: nothing is read or written.
        clipUtils::settings()->setValue(kStored, entry);
        signIn(QString());
        QVERIFY(zm->storageKey().isEmpty());
        QVERIFY(!zm->hasKey());
    }

    // Second device: the dictionary and the right PIN restore the key; a wrong PIN
    // changes nothing.
    void importKey()
    {
        const QVariantMap first = createCurrent("2580");
        const QString secret = "Grüße, 世界 🙂";
        const QString encrypted = zm->encryptText(secret);

        zm->clearAllKeys();
        createCurrent("9999"); // the second device's own pair
        const QString ownHash = zm->keyHash();
        const QVariantMap ownEntry = stored();
        const QString underOwn = addRow(1, ownHash);
        QVERIFY(!zm->importKey("2581", first));
        QCOMPARE(zm->keyHash(), ownHash);
        QCOMPARE(stored(), ownEntry);
        QCOMPARE(row(underOwn).history_id(), 101);
        QVERIFY(zm->decryptText(encrypted).isEmpty());

        zm->rewrapKey("a failed PIN change"); // pending, never to be stored after an unlock
        QVERIFY(zm->importKey("2580", first));
        QVERIFY(zm->pendingDictionary().isEmpty());
        QCOMPARE(zm->keyHash(), first.value("key_hash").toString());
        QCOMPARE(zm->cipherHash(), first.value("cipher_hash").toString());
        QCOMPARE(zm->decryptText(encrypted), secret);
        QVERIFY(stored() != ownEntry);
        QCOMPARE(row(underOwn).history_id(), 0); // uploaded again under the imported key
    }

    // Among them a wrapped key paired with another key's hash: the service may send one.
    void importRefusesMalformedDictionaries()
    {
        const QVariantMap good = zm->createKey("1111");
        const QString otherKey = zm->createKey("1111").value("key_hash").toString();
        const auto with = [&](const char *member, const QVariant &value) {
            QVariantMap d = good;
            d.insert(member, value);
            return d;
        };
        for (const QVariantMap &bad : {with("cipher", QByteArray(47, 'a').toBase64()), with("cipher_hash", QString(65, 'a')),
                                       with("key_hash", QString(65, 'a')), with("key_hash", QString()), with("key_hash", otherKey)})
            QVERIFY(!zm->importKey("1111", bad));
        QVERIFY(!zm->importKey(QString(), good));
        QVERIFY(!zm->hasKey());
        QVERIFY(ZeroManager::keyDictionary(nullptr, nullptr).isEmpty());
    }

    // The PIN change is checked against this device's wrap; its proof is over that
    // wrap's salt, and the new wrap only becomes current once committed.
    void changePin()
    {
        createCurrent("1111"); // a short PIN from before the minimum still works
        const QString cipherHash = zm->cipherHash();
        const ZeroManager::PinChange wrong = zm->changePin("1112", "222222");
        QVERIFY(wrong.wrongPin && wrong.dictionary.isEmpty() && wrong.lastPinHash.isEmpty());

        const ZeroManager::PinChange change = zm->changePin("1111", "222222");
        QVERIFY(!change.wrongPin && !change.earlierWrap);
        QCOMPARE(change.lastPinHash, zm->hashText(QByteArray::fromHex(cipherHash.left(32).toLatin1()), "1111"));
        QVERIFY(zm->hashText(QByteArray(15, 'x'), "1111").isEmpty());
        QCOMPARE(zm->cipherHash(), cipherHash);
        QCOMPARE(zm->pendingDictionary(), change.dictionary);
        const QString keyHash = zm->keyHash();
        zm->commitPendingKey();
        QCOMPARE(zm->cipherHash(), change.dictionary.value("cipher_hash").toString());
        QCOMPARE(zm->keyHash(), keyHash);

        zm->clearAllKeys(); // another device: the new PIN opens the new wrap
        QVERIFY(zm->importKey("222222", change.dictionary));
        QCOMPARE(zm->keyHash(), keyHash);
    }

    // A wrap made before the current construction (Argon2id at the interactive
    // limits keyed the box) unlocks and comes back wrapped anew as the pending pair;
    // its PIN change skips the service's proof.
    void earlierWrapUnlocksAndIsWrappedAnew()
    {
        const QVariantMap current = createCurrent("2468");
        const QByteArray key = stored().value("keyData").toByteArray().left(32);
        const QVariantMap earlier = earlierWrap(current, key, "2468");
        zm->clearAllKeys();
        QVERIFY(zm->importKey("2468", earlier));
        QCOMPARE(zm->cipherHash(), earlier.value("cipher_hash").toString()); // as the service has it
        const QVariantMap rewrapped = zm->pendingDictionary();
        QCOMPARE(rewrapped.value("key_hash"), current.value("key_hash"));
        QVERIFY(rewrapped.value("cipher_hash") != earlier.value("cipher_hash"));

        const ZeroManager::PinChange change = zm->changePin("2468", "864200");
        QVERIFY(change.earlierWrap && !change.wrongPin && change.lastPinHash.isEmpty());
        QCOMPARE(change.dictionary.value("key_hash"), current.value("key_hash"));
    }

    void verifyHashes()
    {
        createCurrent("1357");
        const QString local = zm->keyHash();
        const QString other = QString(32, 'b');
        const QString mine = addRow(1, local);
        const QString theirs = addRow(2, other);
        const QString plain = addRow(3, QString());
        const QString unfinished = addRow(4, local, false);
        const QVariantMap entry = stored();
        QVariantMap server{{"key_hash", local}, {"cipher_hash", zm->cipherHash()}};

        QVERIFY(zm->verifyHashes(server) && zm->verifyHashes({{"key_hash", other}}) && zm->verifyHashes({}));
        QVERIFY(zm->hasKey());

        // PIN changed on another device: the pair goes, the rows stay.
        QSignalSpy keysChanged(zm, &ZeroManager::keysChanged);
        server.insert("cipher_hash", QString(64, 'c'));
        QVERIFY(!zm->verifyHashes(server));
        QVERIFY(!zm->hasKey());
        QVERIFY(!clipUtils::settings()->contains(kStored));
        QCOMPARE(keysChanged.count(), 1);
        QCOMPARE(row(mine).history_id(), 101);
        QCOMPARE(row(theirs).history_id(), 102);

        // Another key on the service: rows of every other key are re-marked for upload.
        clipUtils::settings()->setValue(kStored, entry);
        QVERIFY(zm->hasKey());
        server.insert("key_hash", other);
        QVERIFY(!zm->verifyHashes(server));
        QVERIFY(!zm->hasKey());
        QCOMPARE(row(mine).history_id(), 0);
        QVERIFY(!row(mine).file_ready());
        QVERIFY(row(mine).key_hash().isNull());
        QCOMPARE(row(theirs).history_id(), 102);
        QCOMPARE(row(plain).history_id(), 103);
        QVERIFY(!HistoryQueries::exists(unfinished, "history")); // nothing left to upload again
    }

    // The stored formats, checked with libsodium alone as libs/cindral/README.md gives
    // them: what earlier builds wrote must stay readable, and the service checks PIN
    // proofs against the verifier on its own.
    void keyAndWrapFormats()
    {
        const QByteArray pin = QStringLiteral("pïn-42").toUtf8();
        const QVariantMap dict = createCurrent(QString::fromUtf8(pin));
        const QByteArray key = stored().value("keyData").toByteArray().left(32);
        QCOMPARE(zm->keyHash().toLatin1(), blake2b(16, key, blake2b(32, "cindral key hash v1")).toHex());

        const QByteArray salt = QByteArray::fromHex(zm->cipherHash().left(32).toLatin1());
        QByteArray master(32, '\0');
        QCOMPARE(crypto_pwhash(raw(master), 32, pin.constData(), quint64(pin.size()), raw(salt), crypto_pwhash_OPSLIMIT_MODERATE,
                               crypto_pwhash_MEMLIMIT_MODERATE, crypto_pwhash_ALG_ARGON2ID13),
                 0);
        const QByteArray wrapped = QByteArray::fromBase64(dict.value("cipher").toByteArray());
        QByteArray unwrapped(32, '\0');
        QCOMPARE(crypto_secretbox_open_easy(raw(unwrapped), raw(wrapped), quint64(wrapped.size()), raw(blake2b(24, salt)),
                                            raw(blake2b(32, "cindral wrap key v2", master))),
                 0);
        QCOMPARE(unwrapped, key);
        const QByteArray proof = blake2b(32, "cindral pin proof v2", master);
        QCOMPARE(zm->hashText(salt, QString::fromUtf8(pin)), QString::fromLatin1(proof.toBase64()));
        QCOMPARE(zm->cipherHash().mid(32).toLatin1(), blake2b(16, "cindral verifier v2" + salt + wrapped, proof).toHex());
        // The same PIN wrapped again (another device) shares no salt.
        QVERIFY(zm->rewrapKey(QString::fromUtf8(pin)).value("cipher_hash").toString().left(32) != zm->cipherHash().left(32));
    }

    // Data: nonce, then the sealed bytes. Files: a header, then 64 KiB chunks; a file
    // of whole chunks ends in an empty final chunk.
    void contentFormats()
    {
        QVERIFY(useContentKey());
        ce_key_record record;
        std::memcpy(&record, m_contentKey.value("keyData").toByteArray().constData(), sizeof record);
        const QByteArray key = m_contentKey.value("keyData").toByteArray().left(32);
        const QByteArray plain("attack at dawn");
        QByteArray sealed = zm->encryptData(plain);
        QByteArray opened(plain.size(), '\0');
        QCOMPARE(sealed.size(), 24 + plain.size() + 16);
        QCOMPARE(crypto_aead_xchacha20poly1305_ietf_decrypt(raw(opened), nullptr, nullptr, raw(sealed) + 24,
                                                            quint64(sealed.size() - 24), nullptr, 0, raw(sealed), raw(key)),
                 0);
        QCOMPARE(opened, plain);
        // A forged message is an error from the engine, not an empty plaintext.
        sealed[30] = char(sealed[30] ^ 0x01);
        unsigned char *out = nullptr;
        int64_t outLen = 0;
        QVERIFY(ce_decrypt_data(raw(sealed), sealed.size(), &out, &outLen, &record) != 0 && !out);

        const QByteArray file = readFile(path("sealed"));
        const int chunks = int(Zorvel::kMaxEntryBytes / 65536) + 1;
        QCOMPARE(file.size(), 24 + chunks * 17 + int(Zorvel::kMaxEntryBytes));
        crypto_secretstream_xchacha20poly1305_state state;
        QCOMPARE(crypto_secretstream_xchacha20poly1305_init_pull(&state, raw(file), raw(key)), 0);
        QByteArray joined;
        QByteArray chunk(65536, '\0');
        for (int offset = 24; offset < file.size(); offset += 65536 + 17) {
            unsigned long long n = 0;
            unsigned char tag = 0;
            QCOMPARE(crypto_secretstream_xchacha20poly1305_pull(&state, raw(chunk), &n, &tag, raw(file) + offset,
                                                                quint64(qMin(65536 + 17, file.size() - offset)), nullptr, 0),
                     0);
            joined += chunk.left(int(n));
            QCOMPARE(tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL, offset + 65536 + 17 >= file.size());
        }
        QCOMPARE(joined, readFile(path("plain")));

        // Another writer may end on a full final chunk; whatever follows it is refused.
        QByteArray header(24, '\0');
        QByteArray full(65536 + 17, '\0');
        const QByteArray last = randomBytes(65536);
        crypto_secretstream_xchacha20poly1305_init_push(&state, raw(header), raw(key));
        crypto_secretstream_xchacha20poly1305_push(&state, raw(full), nullptr, raw(last), 65536, nullptr, 0,
                                                   crypto_secretstream_xchacha20poly1305_TAG_FINAL);
        for (const QByteArray &tail : {QByteArray(), QByteArray("trailing")}) {
            QVERIFY(writeFile(path("full"), header + full + tail));
            QFile::remove(path("full.back"));
            QCOMPARE(zm->decryptFile(path("full"), path("full.back")), tail.isEmpty());
            QCOMPARE(readFile(path("full.back")), tail.isEmpty() ? last : QByteArray());
        }
    }

    void edgeCasesAndTampering()
    {
        QVERIFY(useContentKey());
        const QString text = "密码: Grüße 🙂 ©";
        QVERIFY(zm->encryptText(text) != zm->encryptText(text)); // fresh nonce every time
        QCOMPARE(zm->decryptText(zm->encryptText(text)), text);
        QCOMPARE(zm->decryptText(zm->encryptText("before\u0000after")), QString("before"));
        QVERIFY(zm->encryptText(QString()).isEmpty());
        QVERIFY(zm->decryptText("not base64 at all").isEmpty());

        const QByteArray plain = randomBytes(4096);
        QByteArray sealed = zm->encryptData(plain);
        QCOMPARE(zm->decryptData(sealed), plain);
        QVERIFY(zm->decryptData(sealed.left(sealed.size() - 1)).isEmpty() && zm->encryptData(QByteArray()).isEmpty());
        sealed[sealed.size() / 2] = char(sealed[sealed.size() / 2] ^ 0x01);
        QVERIFY(zm->decryptData(sealed).isEmpty());
    }

    void fileRoundTrip()
    {
        QVERIFY(useContentKey());
        const QByteArray plain = readFile(path("plain"));
        const QByteArray sealed = readFile(path("sealed"));
        QVERIFY(!sealed.contains(plain.left(64)));
        QVERIFY(zm->decryptFile(path("sealed"), path("back")));
        QCOMPARE(readFile(path("back")), plain);

        QVERIFY(writeFile(path("empty"), QByteArray()));
        QVERIFY(zm->encryptFile(path("empty"), path("empty.sealed")));
        QVERIFY(zm->decryptFile(path("empty.sealed"), path("empty.back")));
        QCOMPARE(QFileInfo(path("empty.back")).size(), qint64(0));

        QVERIFY(!zm->encryptFile(path("does-not-exist"), path("out")));
        QVERIFY(!zm->encryptFile(path("plain"), path("no-such-folder/out")));
        QVERIFY(!zm->decryptFile(QString(), path("out")));
        QVERIFY(!QFile::exists(path("out")));
    }

    // A damaged download never becomes a file, nor replaces one that is there.
    void damagedFilesLeaveNoTarget_data()
    {
        QTest::addColumn<int>("cut");
        QTest::addColumn<int>("flip");
        QTest::newRow("flipped byte") << 0 << 3000000;
        QTest::newRow("truncated mid-chunk") << 100 << -1;
        QTest::newRow("truncated at a chunk boundary") << -1 << -1;
        QTest::newRow("header only") << -2 << -1;
    }
    void damagedFilesLeaveNoTarget()
    {
        QVERIFY(useContentKey());
        QFETCH(int, cut);
        QFETCH(int, flip);
        QByteArray sealed = readFile(path("sealed"));
        if (cut == -1)
            sealed.truncate(24 + 10 * (65536 + 17));
        else if (cut == -2)
            sealed.truncate(24);
        else
            sealed.chop(cut);
        if (flip >= 0)
            sealed[flip] = char(sealed[flip] ^ 0x80);
        QVERIFY(writeFile(path("damaged"), sealed));
        QFile::remove(path("target"));
        QVERIFY(!zm->decryptFile(path("damaged"), path("target")));
        QVERIFY(!QFile::exists(path("target")));

        QVERIFY(writeFile(path("target"), "kept"));
        QVERIFY(!zm->decryptFile(path("damaged"), path("target")));
        QCOMPARE(readFile(path("target")), QByteArray("kept"));
        QVERIFY(QDir(dir.path()).entryList({"*.cetmp-*"}, QDir::Files).isEmpty());
    }

    // The pages of each mode: tst_EncryptFlows, their texts: tst_Translation. No PIN
    // or password shows on screen.
    void entriesAreHidden()
    {
        for (int mode : {PINWizard::Unlock, PINWizard::Activate, PINWizard::ChangePin, PINWizard::Reset}) {
            PINWizard wizard(nullptr, mode);
            for (QLineEdit *edit : wizard.findChildren<QLineEdit *>())
                QCOMPARE(edit->echoMode(), QLineEdit::Password);
        }
    }

    // Answers typed page after page; the wizard hands over the entered values (or
    // nothing when cancelled for want of answers). An empty entry keeps its page
    // silently; a new PIN has at least six characters (a current shorter one is
    // still accepted), differs from the current one and is repeated.
    void answersAndResult_data()
    {
        const QString tooShort = PINPage::tooShortText();
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QVariantMap>("result");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("unlock") << int(PINWizard::Unlock) << QStringList{"1111"} << QVariantMap{{"last_pin", "1111"}}
                                << QStringList();
        QTest::newRow("activate") << int(PINWizard::Activate) << QStringList{"222222", "222222"}
                                  << QVariantMap{{"new_pin", "222222"}} << QStringList();
        QTest::newRow("change") << int(PINWizard::ChangePin) << QStringList{"1111", "333333", "333333"}
                                << QVariantMap{{"last_pin", "1111"}, {"new_pin", "333333"}} << QStringList();
        QTest::newRow("reset") << int(PINWizard::Reset) << QStringList{"secret pw", "444444", "444444"}
                               << QVariantMap{{"pwd", "secret pw"}, {"new_pin", "444444"}} << QStringList();
        QTest::newRow("cancelled") << int(PINWizard::Activate) << QStringList{"5555"} << QVariantMap() << QStringList{tooShort};
        QTest::newRow("empty entries") << int(PINWizard::Reset) << QStringList{"", "pw", "", "666666", "", "666666"}
                                       << QVariantMap{{"pwd", "pw"}, {"new_pin", "666666"}} << QStringList();
        QTest::newRow("new PIN rules") << int(PINWizard::ChangePin)
                                       << QStringList{"1234", "12345", "五六七八九", "😀😀😀", "567890", "567891", "567890"}
                                       << QVariantMap{{"last_pin", "1234"}, {"new_pin", "567890"}}
                                       << QStringList{tooShort, tooShort, tooShort, "和上一次的PIN不相同"};
        QTest::newRow("same as current") << int(PINWizard::ChangePin) << QStringList{"123456", "123456", "654321", "654321"}
                                         << QVariantMap{{"last_pin", "123456"}, {"new_pin", "654321"}}
                                         << QStringList{"不能和上一个PIN相同"};
        // Without a current-PIN page there is nothing to differ from; the length still counts.
        QTest::newRow("reset length") << int(PINWizard::Reset) << QStringList{"pw", "1234", "123456", "123456"}
                                      << QVariantMap{{"pwd", "pw"}, {"new_pin", "123456"}} << QStringList{tooShort};
    }
    void answersAndResult()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, answers);
        QFETCH(QVariantMap, result);
        QFETCH(QStringList, boxes);
        WizardDriver driver(answers);
        PINWizard wizard(nullptr, mode);
        QSignalSpy results(&wizard, &PINWizard::resultHandler);
        wizard.exec();
        QCOMPARE(results.isEmpty() ? QVariantMap() : results.first().first().toMap(), result);
        QCOMPARE(driver.cancelled(), int(result.isEmpty()));
        QCOMPARE(driver.pages().size(), answers.size());
        QCOMPARE(driver.seen(), boxes);
        for (QLineEdit *edit : wizard.findChildren<QLineEdit *>())
            QVERIFY2(edit->text().isEmpty(), "an entry stayed in the wizard");
    }

    void keyRequestsNeedASignedInUserButNoKey()
    {
        clipUtils::removeUserToken();
        CRequestZeroGet get;
        QSignalSpy spy(&get, &CBaseRequest::responseData);
        get.start();
        QCOMPARE(spy.count(), 1);
        QVERIFY(!spy.first().at(1).isValid() && !get.reply());

        clipUtils::settings()->setValue(Zorvel::Key::UserToken, "token");
        QVERIFY(!ZeroManager::instance()->hasKey());
        QVERIFY(CRequestZeroGet().canContinue());
    }

    // The service opens the reset's seal and checks the PIN proof (tst_EncryptFlows);
    // here, that no secret travels in the clear.
    void bodiesCarryHashesNeverSecrets()
    {
        const QVariantMap dictionary = ZeroManager::instance()->createKey("old pin");
        QVERIFY(!dictionary.isEmpty());
        CRequestZeroPush push;
        push.setKeyDict(dictionary);
        QCOMPARE(bodyOf(push).toVariantMap(), QVariantMap({{"key_dict", dictionary}}));
        CRequestZeroModify modify;
        modify.setKeyDict(dictionary);
        modify.setLastPwdHash("proof");
        QCOMPARE(bodyOf(modify).toVariantMap(), QVariantMap({{"key_dict", dictionary}, {"last_pwd_hash", "proof"}}));

        // The reset seals the password's MD5 text to the service's key, when it has a whole one.
        const QString password = "账户 password";
        const QByteArray digest = clipUtils::md5Hex(password.toUtf8()).toUtf8();
        CRequestZeroRevert reset;
        reset.setKeyDict(dictionary);
        for (const QByteArray &publicKey : {QByteArray(), QByteArray(31, 'k'), QByteArray(32, 'k')}) {
            clipUtils::settings()->setValue(Zorvel::Key::ServerPublicKey, publicKey);
            reset.setPassword(password); // each body build uses the password up
            const QJsonObject body = bodyOf(reset);
            QVERIFY(reset.password().isEmpty());
            QCOMPARE(body.value("key_dict").toObject().toVariantMap(), dictionary);
            QCOMPARE(body.value("pwd_hash_cipher").toString().isEmpty(), publicKey.size() != 32);
            QVERIFY(!reset.body().contains(password.toUtf8()) && !reset.body().contains(digest));
        }
    }
};

ZORVEL_TEST_MAIN(TestZeroManager)
#include "tst_zeromanager.moc"
