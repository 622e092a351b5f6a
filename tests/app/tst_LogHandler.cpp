#include "support/TestMain.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/LogHandler.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

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
    }

    void deletedLogIsCreatedAgain()
    {
        qWarning("one");
        QVERIFY(QFile::remove(logPath()));
        qWarning("two");
        const QByteArray log = readLog();
        QVERIFY(log.contains("two"));
        QVERIFY(!log.contains("one"));
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

    void threadsWriteWholeLines()
    {
        const int perThread = 300;
        const QByteArray longA(200, 'a');
        const QByteArray longB(200, 'b');
        auto writer = [perThread](const QByteArray &text) {
            return QThread::create([perThread, text] {
                for (int i = 0; i < perThread; ++i)
                    qWarning("%s", text.constData());
            });
        };
        QThread *a = writer(longA);
        QThread *b = writer(longB);
        a->start();
        b->start();
        QVERIFY(a->wait(60000));
        QVERIFY(b->wait(60000));
        delete a;
        delete b;
        int countA = 0;
        int countB = 0;
        for (const QByteArray &line : readLog().split('\n')) {
            if (line.isEmpty())
                continue;
            QVERIFY(line.endsWith('\r'));
            const QByteArray text = line.mid(line.lastIndexOf(' ') + 1).chopped(1);
            if (text == longA)
                ++countA;
            else if (text == longB)
                ++countB;
            else
                QFAIL(line.constData());
        }
        QCOMPARE(countA, perThread);
        QCOMPARE(countB, perThread);
    }
};

ZORVEL_TEST_MAIN(TestLogHandler)
#include "tst_LogHandler.moc"
