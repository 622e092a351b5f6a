#include "support/RealProgram.h"
#include "support/TestMain.h"

using namespace RealProgram;

// SIGKILL in the middle of a burst of captures: the database must open again and
// keep every row that was committed before the kill, each with its file.
class TestKillDuringCapture : public QObject
{
    Q_OBJECT

private slots:
    void sigkillDuringBurstKeepsCommittedRows()
    {
        QTemporaryDir home;
        QStringList committed;
        {
            Program program(home.path());
            program.start();
            QVERIFY(program.waitForDatabase(60000));
            Reader reader(home.path());
            // A steady part first, so the kill surely has committed rows to lose.
            for (int i = 0; i < 10; ++i) {
                QVERIFY(copyText("steady " + QByteArray::number(i)));
                QTRY_COMPARE_WITH_TIMEOUT(reader.count(), i + 1, 10000);
            }
            // Then copies as fast as xclip allows; the kill lands while captures run.
            for (int i = 0; i < 30; ++i)
                QVERIFY(copyText("burst " + QByteArray::number(i) + ' ' + QByteArray(4000, 'b')));
            committed = reader.hashes();
            program.kill(SIGKILL);
            QCOMPARE(program.process().exitStatus(), QProcess::CrashExit);
        }
        QVERIFY(committed.size() >= 10);

        // The program itself opens the database again (recovery, clean-up, migration).
        Program again(home.path());
        again.start();
        QVERIFY(again.waitForDatabase(60000));
        Reader reader(home.path());
        QTRY_VERIFY_WITH_TIMEOUT(reader.count() >= committed.size(), 10000);
        QCOMPARE(reader.integrity(), QStringLiteral("ok"));
        const QStringList stored = reader.hashes();
        for (const QString &hash : qAsConst(committed)) {
            QVERIFY2(stored.contains(hash), qPrintable(hash));
            QVERIFY2(QFile::exists(rootFor(home.path()) + QStringLiteral("/Library/files/") + hash), qPrintable(hash));
        }
        QVERIFY(again.running());
    }
};

ZORVEL_TEST_MAIN(TestKillDuringCapture)
#include "tst_KillDuringCapture.moc"
