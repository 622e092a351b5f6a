// Encryption of texts, bytes and files under the current key, and sealing for the service.
#include "support/TestMain.h"

#include "app/Constants.h"
#include "app/clipUtils.h"
#include "e2ee/ZeroManager.h"
#include "store/DBFetcher.h"

#include <sodium.h>

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

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

} // namespace

class TestZeroManagerContent : public QObject
{
    Q_OBJECT

    ZeroManager *zm = nullptr;
    QTemporaryDir dir;

    QString path(const char *name) const { return dir.filePath(name); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(DBFetcher::instance()->isOpen());
        clipUtils::settings()->setValue("user_id", "7");
        clipUtils::settings()->setValue("user_token", "token");
        zm = ZeroManager::instance();
        zm->createKey("4321");
        zm->commitPendingKey();
        QVERIFY(zm->hasKey());
        // The sealed file that the file cases start from, whichever of them runs.
        QVERIFY(writeFile(path("plain"), randomBytes(int(Zorvel::kMaxEntryBytes))));
        QVERIFY(zm->encryptFile(path("plain"), path("sealed")));
    }

    void textRoundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("ascii") << "hello";
        QTest::newRow("non-ascii") << "密码: Grüße 🙂 ©";
        QTest::newRow("large") << QString(300000, QChar(0x4e16));
    }
    void textRoundTrip()
    {
        QFETCH(QString, text);
        const QString encrypted = zm->encryptText(text);
        QVERIFY(!encrypted.isEmpty());
        QVERIFY(encrypted != zm->encryptText(text)); // fresh nonce every time
        QCOMPARE(zm->decryptText(encrypted), text);
    }

    void edgeCasesAndTampering()
    {
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
        QFETCH(int, cut);
        QFETCH(int, flip);
        QByteArray sealed = readFile(path("sealed"));
        QVERIFY(!sealed.isEmpty());
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

    // Another writer may end on a full final chunk; whatever follows it is refused.
    void bytesAfterAFullFinalChunk()
    {
        const QByteArray key = clipUtils::settings()->value("user_7_key").toMap().value("keyData").toByteArray().left(32);
        const auto bytes = [](QByteArray &b) { return reinterpret_cast<unsigned char *>(b.data()); };
        crypto_secretstream_xchacha20poly1305_state state;
        QByteArray header(crypto_secretstream_xchacha20poly1305_HEADERBYTES, '\0');
        crypto_secretstream_xchacha20poly1305_init_push(&state, bytes(header), reinterpret_cast<const unsigned char *>(key.constData()));
        QByteArray plain = randomBytes(64 * 1024);
        QByteArray chunk(plain.size() + int(crypto_secretstream_xchacha20poly1305_ABYTES), '\0');
        crypto_secretstream_xchacha20poly1305_push(&state, bytes(chunk), nullptr, bytes(plain), quint64(plain.size()), nullptr, 0,
                                                   crypto_secretstream_xchacha20poly1305_TAG_FINAL);
        for (const QByteArray &tail : {QByteArray(), QByteArray("trailing")}) {
            QVERIFY(writeFile(path("full"), header + chunk + tail));
            QFile::remove(path("full.back"));
            QCOMPARE(zm->decryptFile(path("full"), path("full.back")), tail.isEmpty());
            QCOMPARE(readFile(path("full.back")), tail.isEmpty() ? plain : QByteArray());
        }
    }

    void sealForServer()
    {
        unsigned char pk[32], sk[32];
        crypto_box_keypair(pk, sk);
        const QByteArray publicKey(reinterpret_cast<const char *>(pk), 32);
        const QByteArray hash = QByteArray::fromHex("00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff");
        const QByteArray sealed = zm->sealForServer(hash, publicKey);
        QByteArray opened(hash.size(), '\0');
        QCOMPARE(crypto_box_seal_open(reinterpret_cast<unsigned char *>(opened.data()),
                                      reinterpret_cast<const unsigned char *>(sealed.constData()),
                                      quint64(sealed.size()), pk, sk),
                 0);
        QCOMPARE(opened, hash);
        QVERIFY(zm->sealForServer(hash, publicKey.left(31)).isEmpty());
    }
};

ZORVEL_TEST_MAIN(TestZeroManagerContent)
#include "tst_zeromanager_content.moc"
