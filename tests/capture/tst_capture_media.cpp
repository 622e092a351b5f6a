// Image and file capture from other programs, and images put back by the program.
#include "CaptureFixture.h"
#include "support/TestMain.h"

#include "app/clipUtils.h"

#include <JlCompress.h>

#include <QBuffer>
#include <QImageWriter>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace Capture;

namespace {

QImage testImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 4 % 256, y * 4 % 256, (x * y) % 256));
    }
    return image;
}

QByteArray encode(const QImage &image, const char *format, int compression = 0)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setCompression(compression);
    writer.write(image);
    return bytes;
}

} // namespace

class TestCaptureMedia : public QObject
{
    Q_OBJECT
    Fixture f;
    QTemporaryDir dir;

    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return file.fileName();
    }
    QString writeFile(const QString &name, qint64 size)
    {
        QByteArray bytes(size, '\0');
        for (qint64 i = 0; i < size; ++i)
            bytes[int(i)] = char(i * 7 % 251);
        return writeFile(name, bytes);
    }

private Q_SLOTS:
    void initTestCase() { f.initTestCase(); }
    void init()
    {
        f.init();
        clipUtils::setFileAsSecret(true);
    }
    void cleanupTestCase() { f.cleanupTestCase(); }

    void copiedImageIsStoredAsTiffWithThumbnailAndZip()
    {
        const QImage image = testImage(64, 48);
        f.driver->copy(encode(image, "png"), QStringLiteral("image/png"));
        QVERIFY(f.driver->waitForChanges());
        QCOMPARE(rows().size(), 1);
        const History row = rows().first();
        QCOMPARE(row.type(), QStringLiteral("image_tiff+zip+enc"));
        QVERIFY(!row.secert());

        const QByteArray tiff = fileBytes(CFileManager::filesPath(), row.file_hash());
        QCOMPARE(clipUtils::md5Hex(tiff), row.file_hash());
        QVERIFY(tiff.startsWith("II*") || tiff.startsWith("MM"));
        QCOMPARE(QImage::fromData(tiff, "TIFF").convertToFormat(QImage::Format_RGB32), image);

        const QByteArray thumbnail = QByteArray::fromBase64(row.content().toLatin1());
        QVERIFY(thumbnail.startsWith("\xFF\xD8"));
        QCOMPARE(QImage::fromData(thumbnail).size(), QSize(40, 30));

        const QString zip = CFileManager::zipPath() + row.file_hash();
        QCOMPARE(row.file_size(), double(QFileInfo(zip).size()));
        const QString extracted = JlCompress::extractFile(zip, row.file_hash(), dir.filePath(QStringLiteral("out")));
        QCOMPARE(clipUtils::fileMd5(extracted), row.file_hash());

        // Put back and captured again: the same entry, no second one.
        Selvane::copyRecord(row);
        QTRY_COMPARE(f.committed->count(), 2);
        QCOMPARE(rows().size(), 1);
        QCOMPARE(rows().first().file_hash(), row.file_hash());
    }

    // An image whose stored bytes would encode differently (another device's TIFF):
    // only the carried hash keeps it one entry.
    void imagePutBackKeepsItsHash()
    {
        const QByteArray lzw = encode(testImage(32, 32), "tiff", 1);
        QVERIFY(clipUtils::md5Hex(clipUtils::imageToTiff(QImage::fromData(lzw))) != clipUtils::md5Hex(lzw));
        History stored;
        stored.setFileHash(clipUtils::md5Hex(lzw));
        stored.setType(QStringLiteral("image_tiff+zip+enc"));
        stored.setContent(QStringLiteral("thumbnail"));
        stored.setTimeStamp(1000);
        stored.save();
        CFileManager::saveFile(lzw, stored.file_hash());

        Selvane::copyRecord(stored);
        QTRY_COMPARE(f.committed->count(), 1);
        QCOMPARE(rows().size(), 1);
        QVERIFY(rows().first().timeStamp() > 1000);
        QCOMPARE(fileBytes(CFileManager::filesPath(), stored.file_hash()), lzw);
    }

    void foreignHashFormatThatCannotNameAFileIsIgnored()
    {
        const QImage image = testImage(16, 16);
        const QString png = writeFile(QStringLiteral("tiny.png"), encode(image, "png"));
        QTest::ignoreMessage(QtWarningMsg, "capture: ignored unusable \"zorvel\" image formats");
        f.driver->offer({QStringLiteral("zorvel=image_tiff+zip+enc"), QStringLiteral("zorvel/data-hash=../../escape"),
                         QStringLiteral("zorvel/data=@") + png, QStringLiteral("image=@") + png});
        QVERIFY(f.driver->waitForChanges());
        QCOMPARE(rows().size(), 1);
        QCOMPARE(rows().first().file_hash(), clipUtils::md5Hex(clipUtils::imageToTiff(image)));
    }

    void fileUpToTheSizeLimitIsCaptured()
    {
        const QString atLimit = writeFile(QStringLiteral("report.final.pdf"), qint64(5767168));
        const QString beyond = writeFile(QStringLiteral("beyond.pdf"), qint64(5767169));
        f.driver->copyFileUrls({beyond});
        QVERIFY(f.driver->waitForChanges());
        QCOMPARE(rows().size(), 0);
        QCOMPARE(f.committed->count(), 0);

        f.driver->copyFileUrls({atLimit});
        QVERIFY(f.driver->waitForChanges());
        QCOMPARE(rows().size(), 1);
        const History row = rows().first();
        QCOMPARE(row.type(), QStringLiteral("file_pdf+zip+enc"));
        QCOMPARE(row.file_name(), QStringLiteral("report.final.pdf"));
        QCOMPARE(row.content(), QStringLiteral("report.final.pdf"));
        QCOMPARE(row.file_size(), 5767168.0);
        QVERIFY(row.secert());
        QCOMPARE(row.file_hash(), clipUtils::fileMd5(atLimit));
        QCOMPARE(clipUtils::fileMd5(CFileManager::filesPath() + row.file_hash()), row.file_hash());
        QCOMPARE(JlCompress::getFileList(CFileManager::zipPath() + row.file_hash()), QStringList{row.file_hash()});
    }

    void onlyTheFirstRegularFileIsCaptured()
    {
        QDir(dir.path()).mkdir(QStringLiteral("folder"));
        f.driver->copyFileUrls({dir.filePath(QStringLiteral("folder")), writeFile(QStringLiteral("x.txt"), "x")});
        QVERIFY(f.driver->waitForChanges());
        const QString fifo = dir.filePath(QStringLiteral("fifo"));
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        f.driver->copyFileUrls({fifo});
        QVERIFY(f.driver->waitForChanges());
        QCOMPARE(rows().size(), 0);

        clipUtils::setFileAsSecret(false);
        f.driver->copyFileUrls({writeFile(QStringLiteral("Makefile"), "all:\n"), writeFile(QStringLiteral("b.txt"), "b")});
        QVERIFY(f.driver->waitForChanges());
        QCOMPARE(rows().size(), 1);
        QCOMPARE(rows().first().type(), QStringLiteral("file_unknow+zip+enc"));
        QCOMPARE(rows().first().file_name(), QStringLiteral("Makefile"));
        QVERIFY(!rows().first().secert());
    }

    void dataOfferingSeveralKindsIsClassifiedFileTextImage()
    {
        const QString path = writeFile(QStringLiteral("notes.md"), "# notes\n");
        const QByteArray url = QUrl::fromLocalFile(path).toEncoded();
        f.driver->offer({QStringLiteral("text/uri-list=") + url, QStringLiteral("text/plain=") + path});
        QVERIFY(f.driver->waitForChanges());
        QCOMPARE(rows().size(), 1);
        QCOMPARE(rows().first().type(), QStringLiteral("file_md+zip+enc"));

        // What GNOME's file manager offers.
        HistoryStore::clearAll();
        f.driver->copy("copy\n" + url, QStringLiteral("x-special/gnome-copied-files"));
        QVERIFY(f.driver->waitForChanges());
        QCOMPARE(rows().first().type(), QStringLiteral("file_md+zip+enc"));

        HistoryStore::clearAll();
        const QString png = writeFile(QStringLiteral("pic.png"), encode(testImage(8, 8), "png"));
        f.driver->offer({QStringLiteral("text/plain=caption"), QStringLiteral("image=@") + png});
        QVERIFY(f.driver->waitForChanges());
        QCOMPARE(rows().size(), 1);
        QCOMPARE(rows().first().type(), QStringLiteral("text_txt+enc"));
    }
};

ZORVEL_TEST_MAIN(TestCaptureMedia)
#include "tst_capture_media.moc"
