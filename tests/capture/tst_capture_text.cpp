// Text capture from other programs, the program's own writes and the watcher thread.
#include "CaptureFixture.h"
#include "support/TestMain.h"

#include "app/Constants.h"
#include "app/clipUtils.h"
#include "store/HistoryQueries.h"

using namespace Capture;
using namespace Zorvel;

class TestCaptureText : public QObject
{
    Q_OBJECT
    Fixture f;

private Q_SLOTS:
    void initTestCase() { f.initTestCase(); }
    void init()
    {
        f.init();
        clipUtils::setCheckSecret(true);
    }
    void cleanupTestCase() { f.cleanupTestCase(); }

    void copiedTextBecomesOneRowAndRecopyRefreshesIt()
    {
        const QString text = QStringLiteral("first line\nsecond line with ünïcode ✓");
        const QString hash = clipUtils::md5Hex(text.toUtf8());
        QVERIFY(f.driver->copyText(text));
        QCOMPARE(f.committed->count(), 1);

        HistoryList list = rows();
        QCOMPARE(list.size(), 1);
        History row = list.first();
        QCOMPARE(row.file_hash(), hash);
        QCOMPARE(row.type(), QStringLiteral("text_txt+enc"));
        QCOMPARE(row.content(), clipUtils::previewText(text));
        QCOMPARE(row.file_size(), double(text.size()));
        QCOMPARE(row.deviceName(), clipUtils::deviceName());
        QVERIFY(!row.secert());
        QVERIFY(row.local_file_ok());
        QVERIFY(row.change_timestamp() > 0);
        QCOMPARE(fileBytes(CFileManager::filesPath(), hash), text.toUtf8());

        // As if pushed long ago, with a favourite copy of the same entry.
        row.setHistoryId(77);
        row.save();
        HistoryQueries::setTimestamp(1000, hash);
        QSqlQuery(QStringLiteral("update History set change_timestamp = 0")).exec();
        History favourite = row;
        favourite.setCategory(QStringLiteral("favourite"));
        favourite.save();

        QVERIFY(f.driver->copyText(text));
        list = rows();
        QCOMPARE(list.size(), 1);
        QCOMPARE(list.first().history_id(), qint64(77));
        QVERIFY(list.first().timeStamp() > 1000);
        QVERIFY(list.first().change_timestamp() > 0);
        QCOMPARE(rows(QStringLiteral("favourite")).first().timeStamp(), list.first().timeStamp());
    }

    void confidentialTextIsMarkedAndAStoredMarkWins()
    {
        QVERIFY(f.driver->copyText(QStringLiteral("the password is hunter2")));
        QVERIFY(byText(QStringLiteral("the password is hunter2")).secert());

        // Captured while detection was off: the stored row keeps secert 0.
        clipUtils::setCheckSecret(false);
        QVERIFY(f.driver->copyText(QStringLiteral("account 12345")));
        clipUtils::setCheckSecret(true);
        QVERIFY(f.driver->copyText(QStringLiteral("account 12345")));
        QCOMPARE(rows().size(), 2);
        QVERIFY(!byText(QStringLiteral("account 12345")).secert());
    }

    void ownWritesAreCapturedOnlyWhenAsked()
    {
        Selvane *watcher = Selvane::instance();
        watcher->setClipboardText(QStringLiteral("from the menu"), false);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("from the menu"));
        QCOMPARE(rows().size(), 0);
        QCOMPARE(f.committed->count(), 0);

        // The ignored text was used up: the next copy of it is the user's.
        QVERIFY(f.driver->copyText(QStringLiteral("from the menu")));
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

        QVERIFY(f.driver->copyText(QStringLiteral("something else")));
        QCOMPARE(config->pendingHash(), clipUtils::md5Hex(text.toUtf8()));

        QVERIFY(f.driver->copyText(text));
        QVERIFY(config->pendingHash().isNull());
        QCOMPARE(rows().size(), 1);

        QVERIFY(f.driver->copyText(text));
        QCOMPARE(rows().size(), 2);
    }

    void passwordManagerSecretIsNotCaptured()
    {
        QTest::ignoreMessage(QtInfoMsg, "capture: skipped clipboard content marked secret by a password manager");
        QVERIFY(f.driver->offer({QStringLiteral("text/plain=correct horse battery"),
                         QStringLiteral("x-kde-passwordManagerHint=secret")}));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("correct horse battery"));
        QCOMPARE(rows().size(), 0);
        QCOMPARE(f.committed->count(), 0);
        QVERIFY(QDir(CFileManager::filesPath()).isEmpty());
    }

    // The capture that goes beyond the limit drops the oldest row and, once that
    // is committed, its file.
    void captureBeyondTheLimitDropsTheOldestRowAndItsFile()
    {
        for (int i = 0; i < kCategoryLimit; ++i) {
            History row;
            row.setContent(QString::number(i));
            row.setFileHash(clipUtils::md5Hex(QByteArray::number(i)));
            row.setTimeStamp(1000 + i);
            row.setType(QLatin1String(EntryType::Text));
            QVERIFY(row.save() && CFileManager::saveFile(QByteArray::number(i), row.file_hash()));
        }
        QVERIFY(f.driver->copyText(QStringLiteral("one too many")));
        QCOMPARE(rows().size(), kCategoryLimit);
        const QString oldest = clipUtils::md5Hex("0");
        QVERIFY(!stored(oldest).exists());
        QVERIFY(!QFile::exists(CFileManager::filesPath() + oldest));
        QVERIFY(QFile::exists(CFileManager::filesPath() + clipUtils::md5Hex("1")));
        QVERIFY(byText(QStringLiteral("one too many")).local_file_ok());
    }

    // A full disk (here: files/ replaced by a plain file, which stops root as well)
    // must not leave a row whose file was never written.
    void textWhoseFileCannotBeWrittenIsNotStored()
    {
        const QString files = CFileManager::filesPath();
        QVERIFY(QDir(files).removeRecursively());
        QFile blocker(files.chopped(1));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString hash = clipUtils::md5Hex("no room for this");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^saveFile: could not write")));
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable(QStringLiteral("capture: entry %1 not stored, its file could not be written").arg(hash)));
        QVERIFY(f.driver->copyText(QStringLiteral("no room for this")));
        QCOMPARE(rows().size(), 0);
        QCOMPARE(f.committed->count(), 0);

        QVERIFY(blocker.remove());
        QVERIFY(f.driver->copyText(QStringLiteral("room again")));
        QCOMPARE(rows().size(), 1);
    }

    void textsCopiedFiftyMillisecondsApartAreBothCaptured()
    {
        QVERIFY(f.driver->offer({QStringLiteral("text/plain=first quick copy"), QStringLiteral("--after"),
                         QStringLiteral("50"), QStringLiteral("text/plain=second quick copy")},
                        2));
        QCOMPARE(rows().size(), 2);
        QVERIFY(!byText(QStringLiteral("first quick copy")).isEmpty());
        QVERIFY(!byText(QStringLiteral("second quick copy")).isEmpty());
    }

};

ZORVEL_TEST_MAIN(TestCaptureText)
#include "tst_capture_text.moc"
