// Image and file capture from other programs, and images put back by the program.
#include "CaptureFixture.h"
#include "support/TestMain.h"

#include "app/clipUtils.h"
#include "desktop/QGlobalShortcut.h"

#include <JlCompress.h>

#include <sys/stat.h>

using namespace Capture;

namespace {

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

QImage noisyImage(int width, int height, quint32 seed = 0)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator noise(seed);
    noise.fillRange(reinterpret_cast<quint32 *>(image.bits()), int(image.sizeInBytes() / 4));
    return image;
}

QStringList hashesInCommitOrder()
{
    QStringList hashes;
    QSqlQuery q(QStringLiteral("select file_hash from History where category is 'history' order by rowid"));
    while (q.next())
        hashes << q.value(0).toString();
    return hashes;
}

// files/<hash> holds the bytes hashing to <hash>, and zip/<hash> the same bytes
// as its one entry <hash>.
bool storedIntact(const QString &hash, const QString &scratch)
{
    if (clipUtils::fileMd5(CFileManager::filesPath() + hash) != hash)
        return false;
    const QString zip = CFileManager::zipPath() + hash;
    if (JlCompress::getFileList(zip) != QStringList{hash})
        return false;
    const QString extracted = JlCompress::extractFile(zip, hash, scratch + QLatin1Char('/') + hash);
    return clipUtils::fileMd5(extracted) == hash;
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
        const QImage image = noisyImage(64, 48);
        QVERIFY(f.driver->copy(encode(image, "png"), QStringLiteral("image/png")));
        QCOMPARE(rows().size(), 1);
        const History row = rows().first();
        QCOMPARE(row.type(), QStringLiteral("image_tiff+zip+enc"));
        QVERIFY(!row.secert());

        const QByteArray tiff = fileBytes(CFileManager::filesPath(), row.file_hash());
        QVERIFY(tiff.startsWith("II*") || tiff.startsWith("MM"));
        QCOMPARE(QImage::fromData(tiff, "TIFF").convertToFormat(QImage::Format_RGB32), image);

        const QByteArray thumbnail = QByteArray::fromBase64(row.content().toLatin1());
        QVERIFY(thumbnail.startsWith("\xFF\xD8"));
        QCOMPARE(QImage::fromData(thumbnail).size(), QSize(40, 30));

        QCOMPARE(row.file_size(), double(QFileInfo(CFileManager::zipPath() + row.file_hash()).size()));
        QVERIFY(storedIntact(row.file_hash(), dir.path()));

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
        const QByteArray lzw = encode(noisyImage(32, 32), "tiff", 1);
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
        const QImage image = noisyImage(16, 16);
        const QString png = writeFile(QStringLiteral("tiny.png"), encode(image, "png"));
        QTest::ignoreMessage(QtWarningMsg, "capture: ignored unusable \"zorvel\" image formats");
        QVERIFY(f.driver->offer({QStringLiteral("zorvel=image_tiff+zip+enc"), QStringLiteral("zorvel/data-hash=../../escape"),
                         QStringLiteral("zorvel/data=@") + png, QStringLiteral("image=@") + png}));
        QCOMPARE(rows().size(), 1);
        QCOMPARE(rows().first().file_hash(), clipUtils::md5Hex(clipUtils::imageToTiff(image)));
    }

    void fileUpToTheSizeLimitIsCaptured()
    {
        const QString atLimit = writeFile(QStringLiteral("report.final.pdf"), QByteArray(5767168, 'p'));
        const QString beyond = writeFile(QStringLiteral("beyond.pdf"), QByteArray(5767169, 'p'));
        QVERIFY(f.driver->copyFileUrls({beyond}));
        QCOMPARE(rows().size(), 0);
        QCOMPARE(f.committed->count(), 0);

        QVERIFY(f.driver->copyFileUrls({atLimit}));
        QCOMPARE(rows().size(), 1);
        const History row = rows().first();
        QCOMPARE(row.type(), QStringLiteral("file_pdf+zip+enc"));
        QCOMPARE(row.file_name(), QStringLiteral("report.final.pdf"));
        QCOMPARE(row.content(), QStringLiteral("report.final.pdf"));
        QCOMPARE(row.file_size(), 5767168.0);
        QVERIFY(row.secert());
        QCOMPARE(row.file_hash(), clipUtils::fileMd5(atLimit));
        QVERIFY(storedIntact(row.file_hash(), dir.path()));
    }

    void onlyTheFirstRegularFileIsCaptured()
    {
        QDir(dir.path()).mkdir(QStringLiteral("folder"));
        QVERIFY(f.driver->copyFileUrls({dir.filePath(QStringLiteral("folder")), writeFile(QStringLiteral("x.txt"), "x")}));
        const QString fifo = dir.filePath(QStringLiteral("fifo"));
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(f.driver->copyFileUrls({fifo}));
        QCOMPARE(rows().size(), 0);

        clipUtils::setFileAsSecret(false);
        QVERIFY(f.driver->copyFileUrls({writeFile(QStringLiteral("Makefile"), "all:\n"), writeFile(QStringLiteral("b.txt"), "b")}));
        QCOMPARE(rows().size(), 1);
        QCOMPARE(rows().first().type(), QStringLiteral("file_unknow+zip+enc"));
        QCOMPARE(rows().first().file_name(), QStringLiteral("Makefile"));
        QVERIFY(!rows().first().secert());
    }

    void dataOfferingSeveralKindsIsClassifiedFileTextImage()
    {
        const QString path = writeFile(QStringLiteral("notes.md"), "# notes\n");
        const QByteArray url = QUrl::fromLocalFile(path).toEncoded();
        QVERIFY(f.driver->offer({QStringLiteral("text/uri-list=") + url, QStringLiteral("text/plain=") + path}));
        QCOMPARE(rows().size(), 1);
        QCOMPARE(rows().first().type(), QStringLiteral("file_md+zip+enc"));

        // What GNOME's file manager offers.
        HistoryStore::clearAll();
        QVERIFY(f.driver->copy("copy\n" + url, QStringLiteral("x-special/gnome-copied-files")));
        QCOMPARE(rows().first().type(), QStringLiteral("file_md+zip+enc"));

        HistoryStore::clearAll();
        const QString png = writeFile(QStringLiteral("pic.png"), encode(noisyImage(8, 8), "png"));
        QVERIFY(f.driver->offer({QStringLiteral("text/plain=caption"), QStringLiteral("image=@") + png}));
        QCOMPARE(rows().size(), 1);
        QCOMPARE(rows().first().type(), QStringLiteral("text_txt+enc"));
    }

    // Images and files copied back to back, faster than they are processed: all
    // stored, in the order of the copies, with their bytes; meanwhile the main
    // thread answers the hot key.
    void burstIsStoredInOrderWhileTheHotKeyOpensTheMenu()
    {
        QGlobalShortcut hotKey(QKeySequence(QStringLiteral("Shift+Alt+v"), QKeySequence::NativeText));
        QMenu menu;
        menu.addAction(QStringLiteral("entry"));
        QObject::connect(&hotKey, &QGlobalShortcut::activated, &menu, [&menu]() { menu.popup(QPoint(20, 20)); });
        bool shownWhileBusy = false;
        QObject::connect(&menu, &QMenu::aboutToShow, [&]() { shownWhileBusy = Selvane::instance()->busy(); });
        QProcess keys;

        // Prepared first, so that the copies follow each other closely. The files
        // come last: read quickly from the clipboard, they leave the most work
        // waiting when the hot key is pressed.
        QStringList expected;
        QList<QByteArray> pngs;
        QStringList files;
        for (int i = 0; i < 10; ++i) {
            const QImage image = noisyImage(800, 600, quint32(i));
            expected << clipUtils::md5Hex(clipUtils::imageToTiff(image));
            pngs << encode(image, "png");
        }
        for (int i = 0; i < 10; ++i) {
            const QByteArray bytes = QByteArray::number(i).repeated(5 * 1024 * 1024);
            expected << clipUtils::md5Hex(bytes);
            files << writeFile(QStringLiteral("burst%1.bin").arg(i), bytes);
        }
        for (const QByteArray &png : qAsConst(pngs)) {
            QVERIFY(f.driver->copy(png, QStringLiteral("image/png"), QClipboard::Clipboard, false));
        }
        for (int i = 0; i < files.size(); ++i) {
            QVERIFY(f.driver->copyFileUrls({files.at(i)}, false));
            if (i == 7)
                keys.start(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("shift+alt+v")});
        }
        QTRY_VERIFY(menu.isVisible());
        QVERIFY(shownWhileBusy);
        menu.hide();
        QVERIFY(f.driver->waitForChanges());
        keys.waitForFinished();

        QCOMPARE(hashesInCommitOrder(), expected);
        for (const QString &hash : qAsConst(expected))
            QVERIFY2(storedIntact(hash, dir.path()), qPrintable(hash));
    }

    // Last: the watcher stays stopped. Stopping mid-burst (as quitting does)
    // commits nothing more and leaves only complete files, each under its hash.
    void quittingMidCaptureLeavesNoHalfRowOrFile()
    {
        for (int i = 0; i < 4; ++i) {
            const QByteArray png = encode(noisyImage(800, 600, quint32(100 + i)), "png");
            QVERIFY(f.driver->copy(png, QStringLiteral("image/png"), QClipboard::Clipboard, false));
            const QString file = writeFile(QStringLiteral("quit%1.bin").arg(i), QByteArray(5 * 1024 * 1024, char('a' + i)));
            QVERIFY(f.driver->copyFileUrls({file}, false));
        }
        Selvane::instance()->stop();
        const QStringList committed = hashesInCommitOrder();
        QVERIFY(f.driver->copyText(QStringLiteral("after the end")));
        QCOMPARE(hashesInCommitOrder(), committed);

        for (const QString &hash : committed)
            QVERIFY2(storedIntact(hash, dir.path()), qPrintable(hash));
        for (const QString &folder : {CFileManager::filesPath(), CFileManager::zipPath()}) {
            QDirIterator it(folder, QDir::Files | QDir::Hidden);
            while (it.hasNext()) {
                const QString name = QFileInfo(it.next()).fileName();
                QVERIFY2(clipUtils::isFileHash(name), qPrintable(name));
                if (folder == CFileManager::filesPath())
                    QCOMPARE(clipUtils::fileMd5(it.filePath()), name);
            }
        }
    }
};

ZORVEL_TEST_MAIN(TestCaptureMedia)
#include "tst_capture_media.moc"
