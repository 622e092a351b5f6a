#include "support/TestMain.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/LogHandler.h"

class TestLogHandler : public QObject
{
    Q_OBJECT

    QString logPath() const { return CFileManager::rootPath() + QStringLiteral("/log.txt"); }

    QByteArray readLog() const
    {
        QFile f(logPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void initTestCase() { qInstallMessageHandler(logMessageHandler); }
    void cleanupTestCase() { qInstallMessageHandler(nullptr); }
    void init()
    {
        for (const QString &suffix : {QString(), QStringLiteral(".1"), QStringLiteral(".2"), QStringLiteral(".3")})
            QFile::remove(logPath() + suffix);
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

ZORVEL_TEST_MAIN(TestLogHandler)
#include "tst_LogHandler.moc"
