#include "support/TestMain.h"

#include "app/CFileManager.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QProcess>

// Starts the real program twice for the same user.
class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void secondInstanceExitsWithOneAndWritesNothing()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

        QProcess first;
        first.setProcessEnvironment(env);
        first.start(QStringLiteral(ZORVEL_EXECUTABLE), QStringList());
        QVERIFY(first.waitForStarted());
        const QString db = CFileManager::rootPath() + QStringLiteral("/clipboard.db");
        // Start-up ends with the bundled plugins; the settings reach the disk once
        // the event loop runs, so the first instance has logged all it logs at start.
        const QString config = QDir::homePath() + QStringLiteral("/.config/brenmoor/zorvel.conf");
        QTRY_VERIFY_WITH_TIMEOUT(
            QSettings(config, QSettings::IniFormat).value(QStringLiteral("sample_plugins_installed")).toBool(), 20000);
        QVERIFY(QFile::exists(db));

        const QString log = CFileManager::rootPath() + QStringLiteral("/log.txt");
        QFile::remove(log);
        QProcess second;
        second.setProcessEnvironment(env);
        second.start(QStringLiteral(ZORVEL_EXECUTABLE), QStringList());
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(!QFile::exists(log));
        QCOMPARE(first.state(), QProcess::Running);

        first.terminate();
        QVERIFY(first.waitForFinished(10000));

        // With the first one gone the lock is free again: a new instance gets
        // through start-up and creates the database afresh.
        QVERIFY(QFile::remove(db));
        QProcess third;
        third.setProcessEnvironment(env);
        third.start(QStringLiteral(ZORVEL_EXECUTABLE), QStringList());
        QVERIFY(third.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(db), 20000);
        QCOMPARE(third.state(), QProcess::Running);
        third.terminate();
        QVERIFY(third.waitForFinished(10000));
    }
};

ZORVEL_TEST_MAIN(TestSingleInstance)
#include "tst_SingleInstance.moc"
