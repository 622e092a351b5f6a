// Clipboard capture: confidential-text detection; texts, images and files copied by
// other programs; the program's own writes; the watcher thread under bursts and at quit.
// The watcher tests run on a private X display. Selvane is created and started once;
// every test starts with an empty history and both kinds of confidential marking on.
#include "ClipboardDriver.h"
#include "support/StoreHelper.h"
#include "support/TestMain.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/clipUtils.h"
#include "capture/ConfigureManager.h"
#include "desktop/PasteKeys.h"
#include "desktop/QGlobalShortcut.h"
#include "store/HistoryQueries.h"
#include "store/HistoryStore.h"

#include <JlCompress.h>

#include <sys/stat.h>

using StoreHelper::stored;

namespace {

// The history, newest first (the tests stay below the 30 it lists).
HistoryList rows() { return HistoryQueries::listHistory(); }

History byText(const QString &text) { return stored(clipUtils::md5Hex(text.toUtf8())); }

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

class TestCaptureClipboard : public QObject
{
    Q_OBJECT
    std::unique_ptr<ClipboardDriver> driver;
    std::unique_ptr<QSignalSpy> committed;
    QTemporaryDir dir;

    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return file.fileName();
    }

private Q_SLOTS:
    void initTestCase()
    {
        DBFetcher::instance();
        Selvane::instance()->start();
        driver = std::make_unique<ClipboardDriver>();
        committed = std::make_unique<QSignalSpy>(Selvane::instance(), &Selvane::historyChanged);
    }
    void init()
    {
        HistoryStore::clearAll();
        ConfigureManager::instance()->setPendingHash(QString());
        ConfigureManager::instance()->setUserKeywords({});
        ConfigureManager::instance()->saveUserKeywords();
        clipUtils::setCheckSecret(true);
        clipUtils::setFileAsSecret(true);
        committed->clear();
    }
    void cleanupTestCase()
    {
        driver.reset();
        Selvane::instance()->stop();
    }

    // Built-in keywords are case-sensitive; the user's are regular expressions that come
    // first once saved. One keyword that is not a valid expression must not switch
    // detection off: the others still apply, and the log says so without naming any.
    void keywordsMarkText_data()
    {
        QTest::addColumn<QStringList>("keywords");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("secret");
        const QStringList none;
        const QStringList user{"a.c", "pin\\d{4}"};
        const QStringList invalid{"(", "a.c"};
        QTest::newRow("built-in") << none << "my password is hunter2" << true;
        QTest::newRow("built-in, other case") << none << "my Password is hunter2" << false;
        QTest::newRow("built-in, Chinese") << none << "手机号 13800000000" << true;
        QTest::newRow("user expression") << user << "xxabcxx" << true;
        QTest::newRow("user, no match") << user << "ac pin42" << false;
        QTest::newRow("invalid, built-in") << invalid << "password" << true;
        QTest::newRow("invalid, the valid one") << invalid << "abc" << true;
    }
    void keywordsMarkText()
    {
        QFETCH(QStringList, keywords);
        QFETCH(QString, text);
        QFETCH(bool, secret);
        ConfigureManager *config = ConfigureManager::instance();
        const QString builtIn = QStringLiteral("码|名|卡|账|号|password|account|username");
        config->setUserKeywords(keywords);
        if (keywords.contains(QStringLiteral("(")))
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("^ConfigureManager: the user keywords do not form a "
                                                                   "valid regular expression \\([^()]* at offset \\d+\\); "
                                                                   "detecting with the valid ones and the built-in keywords$")));
        config->saveUserKeywords();
        QCOMPARE(config->pattern(), keywords.isEmpty() ? builtIn : keywords.join(QLatin1Char('|')) + QLatin1Char('|') + builtIn);
        QCOMPARE(clipUtils::settings()->value(QLatin1String(Zorvel::Key::UserKeyWords)).toStringList(), keywords);
        QCOMPARE(ConfigureManager::isSecretText(text), secret);

        clipUtils::setCheckSecret(false);
        QVERIFY(!ConfigureManager::isSecretText(text));
    }

    void copiedTextBecomesOneRowAndRecopyRefreshesIt()
    {
        const QString text = QStringLiteral("first line\nsecond line with ünïcode ✓");
        const QString hash = clipUtils::md5Hex(text.toUtf8());
        QVERIFY(driver->copyText(text));
        QCOMPARE(committed->count(), 1);

        HistoryList list = rows();
        QCOMPARE(list.size(), 1);
        History row = list.first();
        QCOMPARE(row.file_hash(), hash);
        QCOMPARE(row.type(), QStringLiteral("text_txt+enc"));
        QCOMPARE(row.content(), QStringLiteral("first line second line with ünïcode ✓"));
        QCOMPARE(row.file_size(), double(text.size()));
        QVERIFY(!row.secert());
        QVERIFY(row.local_file_ok());
        QVERIFY(row.change_timestamp() > 0);
        QCOMPARE(CFileManager::readFile(hash), text.toUtf8());

        // As if pushed long ago and marked confidential, with a favourite copy of
        // the same entry: what is stored wins.
        row.setHistoryId(77);
        row.save();
        HistoryQueries::setTimestamp(1000, hash);
        QSqlQuery(QStringLiteral("update History set change_timestamp = 0, secert = 1")).exec();
        History favourite = row;
        favourite.setCategory(QStringLiteral("favourite"));
        favourite.save();

        QVERIFY(driver->copyText(text));
        list = rows();
        QCOMPARE(list.size(), 1);
        QCOMPARE(list.first().history_id(), qint64(77));
        QVERIFY(list.first().secert());
        QVERIFY(list.first().timeStamp() > 1000);
        QVERIFY(list.first().change_timestamp() > 0);
        QCOMPARE(HistoryQueries::listFavourite().first().timeStamp(), list.first().timeStamp());
    }

    // The capture that goes beyond the limit drops the oldest row and, once that
    // is committed, its file.
    void captureBeyondTheLimitDropsTheOldestRowAndItsFile()
    {
        const auto file = [](int i) { return CFileManager::filesPath() + clipUtils::md5Hex(QByteArray::number(i)); };
        for (int i = 0; i < Zorvel::kCategoryLimit; ++i) {
            History row;
            row.setContent(QString::number(i));
            row.setFileHash(clipUtils::md5Hex(QByteArray::number(i)));
            row.setTimeStamp(1000 + i);
            row.setType(QLatin1String(Zorvel::EntryType::Text));
            QVERIFY(row.save() && CFileManager::saveFile(QByteArray::number(i), row.file_hash()));
        }
        QVERIFY(driver->copyText(QStringLiteral("one too many")));
        QCOMPARE(StoreHelper::rows(), Zorvel::kCategoryLimit);
        QVERIFY(!stored(clipUtils::md5Hex("0")).exists() && !QFile::exists(file(0)) && QFile::exists(file(1)));
        QVERIFY(byText(QStringLiteral("one too many")).local_file_ok());
    }

    // A full disk (here: files/ replaced by a plain file, which stops root as well)
    // must not leave a row whose file was never written, whichever thread writes it.
    void entryWhoseFileCannotBeWrittenIsNotStored_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("target");
        QTest::newRow("text") << QByteArray("no room for this") << QStringLiteral("UTF8_STRING");
        QTest::newRow("image") << encode(noisyImage(32, 32), "png") << QStringLiteral("image/png");
    }
    void entryWhoseFileCannotBeWrittenIsNotStored()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, target);
        const QString files = CFileManager::filesPath();
        QVERIFY(QDir(files).removeRecursively());
        QFile blocker(files.chopped(1));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^saveFile: could not write")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not stored, its file could not be written$")));
        QVERIFY(driver->copy(bytes, target));
        QCOMPARE(StoreHelper::rows(), 0);
        QCOMPARE(committed->count(), 0);

        QVERIFY(blocker.remove());
        QVERIFY(driver->copyText(QStringLiteral("room again")));
        QCOMPARE(StoreHelper::rows(), 1);
    }

    void ownWritesAreCapturedOnlyWhenAsked()
    {
        Selvane *watcher = Selvane::instance();
        watcher->setClipboardText(QStringLiteral("from the menu"), false);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("from the menu"));
        QCOMPARE(rows().size(), 0);

        // The ignored text was used up: the next copy of it is the user's.
        QVERIFY(driver->copyText(QStringLiteral("from the menu")));
        QCOMPARE(rows().size(), 1);

        watcher->setClipboardText(QStringLiteral("captured on purpose"), true);
        Selvane::putText(QStringLiteral("put by a plugin"));
        QTRY_COMPARE(rows().size(), 3);

        // A stored text goes back on the clipboard and the selection (PRIMARY, which
        // Shift+Insert pastes in terminals); its row moves up, and the selection write
        // is not captured a second time.
        const History first = byText(QStringLiteral("from the menu"));
        HistoryQueries::setTimestamp(1000, first.file_hash());
        QVERIFY(Selvane::copyRecord(first));
        QTRY_COMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("from the menu"));
        QCOMPARE(QGuiApplication::clipboard()->text(QClipboard::Selection), QStringLiteral("from the menu"));
        QTRY_VERIFY(stored(first.file_hash()).timeStamp() > 1000);
        QCOMPARE(rows().size(), 3);
    }

    void pendingHashSuppressesExactlyOneCapture()
    {
        ConfigureManager *config = ConfigureManager::instance();
        const QString text = QStringLiteral("arrived from another device");
        config->setPendingHash(clipUtils::md5Hex(text.toUtf8()));

        QVERIFY(driver->copyText(QStringLiteral("something else")));
        QCOMPARE(config->pendingHash(), clipUtils::md5Hex(text.toUtf8()));

        QVERIFY(driver->copyText(text));
        QVERIFY(config->pendingHash().isNull());
        QCOMPARE(rows().size(), 1);

        QVERIFY(driver->copyText(text));
        QCOMPARE(rows().size(), 2);
    }

    void passwordManagerSecretIsNotCaptured()
    {
        QTest::ignoreMessage(QtInfoMsg, "capture: skipped clipboard content marked secret by a password manager");
        QVERIFY(driver->offer({QStringLiteral("text/plain=correct horse battery"),
                         QStringLiteral("x-kde-passwordManagerHint=secret")}));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("correct horse battery"));
        QCOMPARE(rows().size(), 0);
        QCOMPARE(committed->count(), 0);
        QVERIFY(QDir(CFileManager::filesPath()).isEmpty());
    }

    // A screen-sized image that compresses is deflated in two parts side by side:
    // the zip must still hold one stream every reader opens.
    void copiedImageIsStoredAsTiffWithThumbnailAndZip()
    {
        QImage image(1280, 800, QImage::Format_RGB32);
        image.fill(QColor(30, 120, 200));
        QRandomGenerator noise(7);
        for (int y = 0; y < image.height(); y += 10)
            noise.fillRange(reinterpret_cast<quint32 *>(image.scanLine(y)), image.width());
        QVERIFY(driver->copy(encode(image, "png"), QStringLiteral("image/png")));
        QCOMPARE(rows().size(), 1);
        const History row = rows().first();
        QCOMPARE(row.type(), QStringLiteral("image_tiff+zip+enc"));

        const QByteArray tiff = CFileManager::readFile(row.file_hash());
        QCOMPARE(QImage::fromData(tiff, "TIFF").convertToFormat(QImage::Format_RGB32), image);

        const QByteArray thumbnail = QByteArray::fromBase64(row.content().toLatin1());
        QVERIFY(thumbnail.startsWith("\xFF\xD8"));
        QCOMPARE(QImage::fromData(thumbnail).size(), QSize(40, 25));

        QCOMPARE(row.file_size(), double(QFileInfo(CFileManager::zipPath() + row.file_hash()).size()));
        QVERIFY(storedIntact(row.file_hash(), dir.path()));
    }

    // Put back and captured again: one entry, also for an image whose stored bytes
    // would encode differently (another device's TIFF), which only the carried hash
    // keeps one.
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
        QTRY_COMPARE(committed->count(), 1);
        QCOMPARE(rows().size(), 1);
        QVERIFY(rows().first().timeStamp() > 1000);
        QCOMPARE(CFileManager::readFile(stored.file_hash()), lzw);
    }

    // Owners that misbehave cost a log line and store nothing, or, when they also
    // offer a usable image, store that. Either way the next copy is captured.
    void misbehavingOwnersLeaveCaptureWorking_data()
    {
        QTest::addColumn<QStringList>("owner"); // program and arguments, PNG for the image file
        QTest::addColumn<QString>("log");
        const QString hostile = QStringLiteral(ZORVEL_HOSTILE_OWNER);
        QTest::newRow("never answers") << QStringList{hostile, "silent", "PNG"} << "x11: .*did not deliver it in time";
        QTest::newRow("bogus type") << QStringList{hostile, "badtype", "PNG"} << "x11: .*delivered it as INTEGER/32";
        QTest::newRow("answer to another") << QStringList{hostile, "other", "PNG"} << "x11: .*for another request";
        QTest::newRow("gone mid-transfer") << QStringList{hostile, "vanish", "PNG"} << "x11: .*went away in the middle";
        QTest::newRow("beyond the size limit") << QStringList{hostile, "huge", "PNG"} << "x11: .*larger than 67108864";
        QTest::newRow("large image in chunks") << QStringList{hostile, "incr", "PNG"} << QString();
        QTest::newRow("our formats, foreign hash")
            << QStringList{ZORVEL_CLIPBOARD_OWNER, "zorvel=image_tiff+zip+enc", "zorvel/data-hash=../../escape",
                           "zorvel/data=@PNG", "image=@PNG"}
            << "capture: ignored unusable \"zorvel\" image formats";
    }
    void misbehavingOwnersLeaveCaptureWorking()
    {
        QFETCH(QStringList, owner);
        QFETCH(QString, log);
        const QImage image = noisyImage(1000, 800);
        owner.replaceInStrings(QStringLiteral("PNG"), writeFile(QStringLiteral("large.png"), encode(image, "png")));
        if (!log.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QLatin1Char('^') + log));
        QVERIFY(driver->offer(owner.mid(1), owner.first()));
        const bool stored = log.isEmpty() || log.startsWith(QLatin1String("capture"));
        QCOMPARE(rows().size(), stored ? 1 : 0);
        if (stored)
            QCOMPARE(rows().first().file_hash(), clipUtils::md5Hex(clipUtils::imageToTiff(image)));
        QVERIFY(driver->copyText(QStringLiteral("after ") + QTest::currentDataTag()));
        QTRY_VERIFY(byText(QStringLiteral("after ") + QTest::currentDataTag()).exists());
    }

    void fileUpToTheSizeLimitIsCaptured()
    {
        const QString atLimit = writeFile(QStringLiteral("report.final.pdf"), QByteArray(5767168, 'p'));
        const QString beyond = writeFile(QStringLiteral("beyond.pdf"), QByteArray(5767169, 'p'));
        QVERIFY(driver->copyFileUrls({beyond}));
        QCOMPARE(rows().size(), 0);

        QVERIFY(driver->copyFileUrls({atLimit}));
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
        QVERIFY(driver->copyFileUrls({dir.filePath(QStringLiteral("folder")), writeFile(QStringLiteral("x.txt"), "x")}));
        const QString fifo = dir.filePath(QStringLiteral("fifo"));
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(driver->copyFileUrls({fifo}));
        QCOMPARE(rows().size(), 0);

        clipUtils::setFileAsSecret(false);
        QVERIFY(driver->copyFileUrls({writeFile(QStringLiteral("Makefile"), "all:\n"), writeFile(QStringLiteral("b.txt"), "b")}));
        QCOMPARE(rows().size(), 1);
        QCOMPARE(rows().first().type(), QStringLiteral("file_unknow+zip+enc"));
        QCOMPARE(rows().first().file_name(), QStringLiteral("Makefile"));
        QVERIFY(!rows().first().secert());
    }

    void dataOfferingSeveralKindsIsClassifiedFileTextImage()
    {
        const QString path = writeFile(QStringLiteral("notes.md"), "# notes\n");
        const QByteArray url = QUrl::fromLocalFile(path).toEncoded();
        QVERIFY(driver->offer({QStringLiteral("text/uri-list=") + url, QStringLiteral("text/plain=") + path}));
        QCOMPARE(rows().size(), 1);
        QCOMPARE(rows().first().type(), QStringLiteral("file_md+zip+enc"));

        // What GNOME's file manager offers.
        HistoryStore::clearAll();
        QVERIFY(driver->copy("copy\n" + url, QStringLiteral("x-special/gnome-copied-files")));
        QCOMPARE(rows().first().type(), QStringLiteral("file_md+zip+enc"));

        HistoryStore::clearAll();
        const QString png = writeFile(QStringLiteral("pic.png"), encode(noisyImage(8, 8), "png"));
        QVERIFY(driver->offer({QStringLiteral("text/plain=caption"), QStringLiteral("image=@") + png}));
        QCOMPARE(rows().size(), 1);
        QCOMPARE(rows().first().type(), QStringLiteral("text_txt+enc"));
    }

    // Images and files copied back to back, faster than they are processed: all
    // stored, in the order of the copies, with their bytes; meanwhile the main
    // thread answers the hot key.
    void burstIsStoredInOrderWhileTheHotKeyOpensTheMenu()
    {
        QGlobalShortcut hotKey(QKeySequence(QStringLiteral("Ctrl+Shift+V"), QKeySequence::NativeText));
        QMenu menu;
        menu.addAction(QStringLiteral("entry"));
        QObject::connect(&hotKey, &QGlobalShortcut::activated, &menu, [&menu]() { menu.popup(QPoint(20, 20)); });
        bool shownWhileBusy = false;
        QObject::connect(&menu, &QMenu::aboutToShow, [&]() { shownWhileBusy = Selvane::instance()->busy(); });

        // Prepared first, so that the copies follow each other closely. The key is
        // pressed (XTest: no process to start) as soon as the first, screen-sized
        // image is queued, well before the worker is through with it.
        QStringList expected;
        QList<QByteArray> pngs;
        QStringList files;
        for (int i = 0; i < 10; ++i) {
            const QImage image = i == 0 ? noisyImage(1920, 1080) : noisyImage(800, 600, quint32(i));
            expected << clipUtils::md5Hex(clipUtils::imageToTiff(image));
            pngs << encode(image, "png");
        }
        for (int i = 0; i < 10; ++i) {
            const QByteArray bytes = QByteArray::number(i).repeated(5 * 1024 * 1024);
            expected << clipUtils::md5Hex(bytes);
            files << writeFile(QStringLiteral("burst%1.bin").arg(i), bytes);
        }
        for (const QByteArray &png : qAsConst(pngs)) {
            QVERIFY(driver->copy(png, QStringLiteral("image/png"), false));
            if (png == pngs.first())
                PasteKeys::sendShiftCtrlV();
        }
        for (const QString &file : qAsConst(files)) {
            QVERIFY(driver->copyFileUrls({file}, false));
        }
        QTRY_VERIFY(menu.isVisible());
        QVERIFY(shownWhileBusy);
        menu.hide();
        QVERIFY(driver->waitForChanges());

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
            QVERIFY(driver->copy(png, QStringLiteral("image/png"), false));
            const QString file = writeFile(QStringLiteral("quit%1.bin").arg(i), QByteArray(5 * 1024 * 1024, char('a' + i)));
            QVERIFY(driver->copyFileUrls({file}, false));
        }
        Selvane::instance()->stop();
        const QStringList committed = hashesInCommitOrder();
        QVERIFY(driver->copyText(QStringLiteral("after the end")));
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

ZORVEL_TEST_MAIN(TestCaptureClipboard)
#include "tst_capture_clipboard.moc"
