// Key life cycle, persistence and the hash check against the service.
#include "support/TestMain.h"

#include "EarlierWrap.h"
#include "app/clipUtils.h"
#include "e2ee/ZeroManager.h"
#include "support/StoreHelper.h"
#include "store/HistoryQueries.h"

#include <QSettings>
#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

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

} // namespace

class TestZeroManagerKeys : public QObject
{
    Q_OBJECT

    ZeroManager *zm = nullptr;

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
};

ZORVEL_TEST_MAIN(TestZeroManagerKeys)
#include "tst_zeromanager_keys.moc"
