#include "support/RealProgram.h"
#include "support/TestMain.h"

#include <sys/mount.h>

using namespace RealProgram;

// The program's home on a small tmpfs that fills up during capture.
class TestFullDisk : public QObject
{
    Q_OBJECT

private slots:
    void fullDiskLosesNothingStoredAndLogs()
    {
        QTemporaryDir mountPoint;
        if (::mount("tmpfs", qPrintable(mountPoint.path()), "tmpfs", 0, "size=8m") != 0)
            QSKIP("mounting a tmpfs needs root (CI has it): the full-disk test did not run");
        const auto unmount = qScopeGuard([&] { ::umount2(qPrintable(mountPoint.path()), MNT_DETACH); });
        const QString home = mountPoint.path();

        Program program(home);
        program.start();
        QVERIFY(program.waitForDatabase(60000));
        Reader reader(home);
        for (int i = 0; i < 5; ++i) {
            QVERIFY(copyText("before the disk filled " + QByteArray::number(i)));
            QTRY_COMPARE_WITH_TIMEOUT(reader.count(), i + 1, 10000);
        }
        const QStringList before = reader.hashes();

        // Fill the disk to the last block, then give back a little so the log line
        // still fits while a large entry does not.
        const QString fillerPath = home + QStringLiteral("/filler");
        {
            QFile filler(fillerPath);
            QVERIFY(filler.open(QIODevice::WriteOnly));
            const QByteArray block(64 * 1024, 'f');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
            filler.close();
            QVERIFY(filler.resize(filler.size() - 16 * 1024));
        }
        const QString log = rootFor(home) + QStringLiteral("/log.txt");
        const qint64 logSize = QFileInfo(log).size();
        QVERIFY(copyText("too large for the disk " + QByteArray(512 * 1024, 'L')));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(log).size() > logSize, 10000);

        QCOMPARE(reader.integrity(), QStringLiteral("ok"));
        const QStringList during = reader.hashes();
        for (const QString &hash : before)
            QVERIFY(during.contains(hash));
        // No row may point at a file that was never written.
        for (const QString &hash : during)
            QVERIFY2(QFile::exists(rootFor(home) + QStringLiteral("/Library/files/") + hash), qPrintable(hash));
        QVERIFY(program.running());

        // With room again, capture goes on.
        QVERIFY(QFile::remove(fillerPath));
        QVERIFY(copyText("after the disk had room again"));
        QTRY_COMPARE_WITH_TIMEOUT(reader.count(), before.size() + 1, 10000);
        program.kill();
    }
};

ZORVEL_TEST_MAIN(TestFullDisk)
#include "tst_FullDisk.moc"
