#include "support/TestMain.h"

#include "app/CFileManager.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

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
        // The database exists once the first instance is through its start-up.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(db), 60000);

        // The second process shares the lock folder but has a home of its own, so
        // anything it wrote (a log line, the folder tree) would show there while
        // the first instance goes on logging in its own home.
        QTemporaryDir otherHome;
        QProcessEnvironment secondEnv = env;
        secondEnv.insert(QStringLiteral("HOME"), otherHome.path());
        QProcess second;
        second.setProcessEnvironment(secondEnv);
        second.start(QStringLiteral(ZORVEL_EXECUTABLE), QStringList());
        QVERIFY(second.waitForFinished(60000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(!QFile::exists(otherHome.filePath(QStringLiteral("Documents"))));
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
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(db), 60000);
        QCOMPARE(third.state(), QProcess::Running);
        third.terminate();
        QVERIFY(third.waitForFinished(10000));
    }
};

ZORVEL_TEST_MAIN(TestSingleInstance)
#include "tst_SingleInstance.moc"
