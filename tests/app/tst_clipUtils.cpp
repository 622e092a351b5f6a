#include "support/TestMain.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/LogHandler.h"
#include "app/PrivateFile.h"
#include "app/clipUtils.h"
#include "platform/AutoStartEntry.h"

#include <utility>

class TestClipUtils : public QObject
{
    Q_OBJECT

    QString logPath() const { return CFileManager::rootPath() + QStringLiteral("/log.txt"); }

    QByteArray readLog() const
    {
        QFile f(logPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    // Every message of the run goes to the log file, as in the program.
    void initTestCase() { qInstallMessageHandler(logMessageHandler); }
    void cleanupTestCase() { qInstallMessageHandler(nullptr); }
    void init()
    {
        for (const QString &suffix : {QString(), QStringLiteral(".1"), QStringLiteral(".2"), QStringLiteral(".3")})
            QFile::remove(logPath() + suffix);
    }

    // One at a time or as a batch written side by side: a hash that is not a digest
    // never becomes a path, and the good files of the batch are all written whole.
    void hashesThatAreNotDigestsNeverBecomePaths()
    {
        const QString outside = CFileManager::filesPath() + QStringLiteral("../../escaped");
        const int before = QDir(CFileManager::filesPath()).entryList(QDir::Files).size();
        QVector<QPair<QString, QByteArray>> batch;
        for (const QString &hash : {QStringLiteral("../../escaped"), QStringLiteral("/tmp/x"), QString(),
                                    QStringLiteral("ABCDEF0123456789ABCDEF0123456789")}) {
            CFileManager::saveFile("payload", hash);
            QVERIFY(CFileManager::entryPath(CFileManager::filesPath(), hash).isEmpty());
            batch.append({hash, "payload"});
        }
        QCOMPARE(QDir(CFileManager::filesPath()).entryList(QDir::Files).size(), before);
        QSet<QString> good;
        for (int i = 0; i < 40; ++i) {
            const QByteArray bytes = "batch file " + QByteArray::number(i) + QByteArray(i * 100, 'b');
            good.insert(clipUtils::md5Hex(bytes));
            batch.insert(i % batch.size(), {clipUtils::md5Hex(bytes), bytes}); // among the hostile ones
        }
        QCOMPARE(CFileManager::saveFiles(batch), good);
        QVERIFY(!QFile::exists(outside));
        QCOMPARE(QDir(CFileManager::filesPath()).entryList(QDir::Files).size(), before + good.size());
        for (const auto &file : batch) {
            if (good.contains(file.first))
                QCOMPARE(CFileManager::readFile(file.first), file.second);
        }
        QVERIFY(CFileManager::readFile(clipUtils::md5Hex("never saved")).isEmpty());
        // A second save never overwrites the first.
        QVERIFY(CFileManager::saveFile("other", clipUtils::md5Hex("batch file 0")));
        QCOMPARE(CFileManager::readFile(clipUtils::md5Hex("batch file 0")), QByteArray("batch file 0"));
    }

    // The settings file holds the content key: owner only, from the first start on,
    // and narrowed when an older version left it wider.
    void settingsFileIsPrivate()
    {
        clipUtils::settings()->setValue(QStringLiteral("user_token"), QStringLiteral("t"));
        clipUtils::settings()->sync();
        const QFileInfo file(clipUtils::settings()->fileName());
        QCOMPARE(file.absoluteFilePath(), QDir::homePath() + QStringLiteral("/.config/brenmoor/zorvel.conf"));
        const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        // Owner, group and other bits; the "user" bits repeat the owner's for the owner.
        const auto mode = [](const QString &path) { return QFile::permissions(path) & 0x7077; };
        QCOMPARE(mode(file.absoluteFilePath()), ownerOnly);
        QCOMPARE(mode(file.absolutePath()), ownerOnly | QFileDevice::ExeOwner);

        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("wide"));
        const QString wide = folder + QStringLiteral("/zorvel.conf");
        QVERIFY(QDir().mkpath(folder));
        QFile f(wide);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[General]\nkept=1\n");
        f.close();
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                  | QFileDevice::ReadOther | QFileDevice::ExeOther));
        QVERIFY(QFile::setPermissions(wide, ownerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        QVERIFY(PrivateFile::secure(wide));
        QCOMPARE(mode(wide), ownerOnly);
        QCOMPARE(mode(folder), ownerOnly | QFileDevice::ExeOwner);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("[General]\nkept=1\n"));

        // Signing out takes the token out of the file.
        clipUtils::removeUserToken();
        QVERIFY(!clipUtils::hasUserToken());
    }

    void flagsAreStoredAsZeroOrOneText()
    {
        clipUtils::setMenuCleanup(true);
        QCOMPARE(clipUtils::settings()->value(QStringLiteral("menu_cleanup")).toString(), QStringLiteral("1"));
        QVERIFY(clipUtils::menuCleanup());
        clipUtils::setCheckSecret(false);
        QCOMPARE(clipUtils::settings()->value(QStringLiteral("check_secert")).toString(), QStringLiteral("0"));
        QVERIFY(!clipUtils::checkSecret());
        // Unreadable text is off; empty text is the default again.
        clipUtils::settings()->setValue(QStringLiteral("check_secert"), QStringLiteral("yes"));
        QVERIFY(!clipUtils::checkSecret());
        clipUtils::settings()->setValue(QStringLiteral("check_secert"), QString());
        QVERIFY(clipUtils::checkSecret());
    }

    void autoStartFollowsTheExecutablePath()
    {
        QVERIFY(!clipUtils::isAutoStart());
        clipUtils::setAutoStart(true);
        QVERIFY(clipUtils::isAutoStart());
        // The program moved: the entry still names the old path.
        const QString name = QCoreApplication::applicationName();
        AutoStartEntry::write(name, QStringLiteral("/opt/elsewhere/") + name);
        QVERIFY(!clipUtils::isAutoStart());
        // The session runs Exec= through a shell-like parser: quotes, $ and ` are escaped.
        const QString odd = QStringLiteral("/path with \"quotes\", $HOME and `id`/zorvel");
        AutoStartEntry::write(name, odd);
        QCOMPARE(AutoStartEntry::executable(name), odd);
        QFile entry(AutoStartEntry::entryPath(name));
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(entry.readAll().contains("Exec=\"/path with \\\"quotes\\\", \\$HOME and \\`id\\`/zorvel\"\n"));
        clipUtils::setAutoStart(true);
        QVERIFY(clipUtils::isAutoStart());
        clipUtils::setAutoStart(false);
        QVERIFY(!clipUtils::isAutoStart());
    }

    void versionComparison_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<QString>("newer");
        QTest::newRow("numeric not textual") << "2.1.9" << "2.1.15" << "2.1.15";
        QTest::newRow("shorter but newer") << "2.2" << "2.1.15" << "2.2";
        QTest::newRow("trailing zero equal") << "2.1.15" << "2.1.15.0" << "";
        QTest::newRow("extra part newer") << "2.1.15" << "2.1.15.1" << "2.1.15.1";
        QTest::newRow("non-numeric counts zero") << "2.x.1" << "2.0.1" << "";
    }

    void versionComparison()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(QString, newer);
        QCOMPARE(clipUtils::newerVersion(a, b), newer);
    }

    void announcedVersionCountsWhenNewerThanOurs()
    {
        for (const auto &[announced, isNew] : {std::pair{"", false}, {"2.1.15", false}, {"2.1.16", true}, {"2.1", false}}) {
            clipUtils::settings()->setValue(QStringLiteral("newversion"), QLatin1String(announced));
            QCOMPARE(clipUtils::hasNewVersion(), isNew);
        }
    }

    void preview()
    {
        QCOMPARE(clipUtils::previewText(QString(100, QLatin1Char('x'))).size(), 51);
        QCOMPARE(clipUtils::previewText(QStringLiteral("one\n\t\ttwo  three")), QStringLiteral("one two three"));
        // Whitespace runs fold before the length check: a long run costs one character.
        const QString words = QString(49, QLatin1Char('a')) + QStringLiteral("\r\n\r\n") + QStringLiteral("bcdef");
        QCOMPARE(clipUtils::previewText(words), QString(49, QLatin1Char('a')) + QStringLiteral(" b"));
    }

    void imageHelpers()
    {
        QTemporaryDir dir;
        QImage image(64, 32, QImage::Format_RGB32);
        image.fill(Qt::red);
        const QByteArray tiff = clipUtils::imageToTiff(image);
        QFile f(dir.filePath(QStringLiteral("img")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(tiff);
        f.close();
        QCOMPARE(clipUtils::imageFileFormat(f.fileName()), QStringLiteral("tiff"));
        QCOMPARE(clipUtils::imageFileFormat(dir.filePath(QStringLiteral("missing"))), QString());
        QFile empty(dir.filePath(QStringLiteral("empty")));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        QCOMPARE(clipUtils::imageFileFormat(empty.fileName()), QStringLiteral("png"));

        const QImage back = clipUtils::imageFromBase64(clipUtils::imageToJpegBase64(image));
        QCOMPARE(back.size(), image.size());
        QVERIFY(clipUtils::imageFromBase64(QStringLiteral("not an image")).isNull());
        // Recognised formats by their one reader, others by Qt's guess; cut short, nothing.
        for (const char *format : {"png", "jpeg", "tiff", "bmp"}) {
            QByteArray bytes;
            QBuffer buffer(&bytes);
            QVERIFY(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, format));
            QCOMPARE(clipUtils::decodeImage(bytes).size(), image.size());
            QVERIFY(clipUtils::decodeImage(bytes.left(16)).isNull());
        }
    }

    void onlyLowerCaseDigestsAreFileHashes()
    {
        QVERIFY(clipUtils::isFileHash(QStringLiteral("0123456789abcdef0123456789abcdef")));
        for (const char *bad : {"0123456789ABCDEF0123456789abcdef", "../../../../../../../../etc/pass", "0123456789abcdef",
                                "0123456789abcdef0123456789abcdef0", "0123456789abcdef0123456789abcdeg"})
            QVERIFY2(!clipUtils::isFileHash(QLatin1String(bad)), bad);
    }

    void levelsAndLineFormat()
    {
        qDebug("dropped");
        QVERIFY(!QFile::exists(logPath()));
        qWarning("db open error");
        qCritical("second");
        qInfo("文件已下载");
        const QByteArray log = readLog();
        const QList<QByteArray> lines = log.split('\n');
        QCOMPARE(lines.size(), 4); // three lines and the empty tail
        QVERIFY(log.endsWith("\r\n"));
        const QRegularExpression format(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \S+ db open error\r$)"));
        QVERIFY2(format.match(QString::fromUtf8(lines.at(0))).hasMatch(), lines.at(0).constData());
        QVERIFY(lines.at(2).endsWith(QStringLiteral("文件已下载\r").toUtf8()));
        QVERIFY(!log.contains("dropped"));

        // A deleted log is made again.
        QVERIFY(QFile::remove(logPath()));
        qWarning("two");
        QCOMPARE(readLog().count('\n'), 1);
    }

    // A full log moves aside before the next line; three files at most, the oldest goes.
    void fullLogIsRotated()
    {
        const auto fill = [this](char c) {
            QFile f(logPath());
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Append));
            f.write(QByteArray(Zorvel::kLogRotateBytes, c));
        };
        const auto sizeOf = [this](const QString &suffix) { return QFileInfo(logPath() + suffix).size(); };
        qWarning("first");
        fill('a');
        qWarning("second"); // log.txt is full: it becomes log.txt.1
        QVERIFY(readLog().contains("second") && !readLog().contains("first"));
        QVERIFY(sizeOf(QStringLiteral(".1")) > Zorvel::kLogRotateBytes);
        fill('b');
        qWarning("third");
        fill('c');
        qWarning("fourth");
        QVERIFY(readLog().contains("fourth") && !readLog().contains("third"));
        QFile kept(logPath() + QStringLiteral(".2"));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QVERIFY(kept.readAll().contains("second")); // the one holding "first" went
        QVERIFY(!QFile::exists(logPath() + QStringLiteral(".3")));
    }
};

ZORVEL_TEST_MAIN(TestClipUtils)
#include "tst_clipUtils.moc"
