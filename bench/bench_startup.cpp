// Start-up of the real program to a ready tray icon (its window mapped in trayer's
// panel, seen from outside with xdotool), and its resident memory after start and
// after 60 captured texts. Each run starts in a fresh home, as a first start does.
#include "BenchTable.h"
#include "support/RealProgram.h"
#include "support/TestMain.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QTemporaryDir>

namespace {

const int kRuns = 15;
const int kEntries = 60;

} // namespace

class BenchStartup : public QObject
{
    Q_OBJECT

private slots:
    void startAndMemory()
    {
        RealProgram::Tray tray;
        QVERIFY2(tray.start(), "trayer did not start");

        QVector<double> startMs, rssStart, rssFull;
        for (int run = 0; run < kRuns; ++run) {
            QTemporaryDir home;
            RealProgram::Program program(home.path());
            QElapsedTimer timer;
            timer.start();
            program.start();
            QVERIFY2(program.waitForTray(20000), "no tray icon appeared");
            startMs.append(timer.nsecsElapsed() / 1e6);
            // Memory once start-up work queued behind the tray icon is done.
            QVERIFY(program.waitForDatabase(20000));
            QTest::qWait(300);
            rssStart.append(program.rssKiB() / 1024.0);

            // Entries are measured on a few runs only: 60 copies take a while.
            if (run < 3) {
                RealProgram::Reader reader(home.path());
                for (int i = 0; i < kEntries; ++i) {
                    const QByteArray text = QByteArray("bench entry ") + QByteArray::number(run) + ' '
                                            + QByteArray::number(i) + ' ' + QByteArray(200, 'x');
                    QVERIFY(RealProgram::copyText(text));
                    QTRY_VERIFY_WITH_TIMEOUT(reader.count() >= i + 1, 10000);
                    if (reader.count() != i + 1)
                        qWarning() << reader.contents();
                }
                QTest::qWait(300);
                rssFull.append(program.rssKiB() / 1024.0);
            }
            program.kill();
        }
        Bench::report(QStringLiteral("startup: launch to tray icon"), Bench::stats(startMs), QStringLiteral("ms"),
                      QStringLiteral("<= 150 ms"));
        Bench::report(QStringLiteral("startup: RSS after start"), Bench::stats(rssStart), QStringLiteral("MiB"),
                      QStringLiteral("<= 40 MB"));
        Bench::report(QStringLiteral("startup: RSS after 60 entries"), Bench::stats(rssFull), QStringLiteral("MiB"),
                      QStringLiteral("<= 40 MB"));
    }
};

ZORVEL_TEST_MAIN(BenchStartup)
#include "bench_startup.moc"
