// Start-up of the real program to a ready tray icon (its window mapped in trayer's
// panel, seen from outside with xdotool), its memory (RSS and PSS) after start,
// after 60 captured texts and after two bursts of 40 copies (30 ms and 10 ms
// apart, how many it kept). CopyQ, the clipboard manager people use today, goes
// through the same steps on the same display for comparison; its figures count
// its clipboard monitor process as well. Each run starts in a fresh home, as a
// first start does; a few runs then start again in that home, as every later start
// does (no first-start balloon, a history and a clipboard to look at).
#include "BenchTable.h"
#include "Smaps.h"
#include "support/RealProgram.h"
#include "support/TestMain.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <functional>

namespace {

const int kRuns = 15;
const int kFullRuns = 3;
const int kEntries = 60;
const int kBurst = 40;

// Number of entries the manager holds now whose text starts with the prefix
// (all entries with an empty prefix); -1 before it can tell.
using Counter = std::function<int(const QByteArray &prefix)>;

int copyqCount(const QString &home, const QByteArray &prefix)
{
    QProcess cli;
    cli.setProcessEnvironment(RealProgram::environmentFor(home));
    const QString script = QStringLiteral("var n = 0; for (var i = 0; i < count(); ++i) "
                                          "if (str(read(i)).indexOf('%1') == 0) ++n; print(n)")
                               .arg(QString::fromLatin1(prefix));
    cli.start(QStringLiteral("copyq"), {QStringLiteral("eval"), script});
    if (!cli.waitForFinished(10000) || cli.exitCode() != 0)
        return -1;
    return cli.readAllStandardOutput().trimmed().toInt();
}

// Waits until the count stops changing (half a second without change).
int settledCount(const Counter &count, const QByteArray &prefix)
{
    int last = count(prefix);
    QElapsedTimer still;
    still.start();
    QDeadlineTimer deadline(10000);
    while (still.elapsed() < 500 && !deadline.hasExpired()) {
        QTest::qWait(50);
        const int now = count(prefix);
        if (now != last) {
            last = now;
            still.restart();
        }
    }
    return last;
}

// Copies kBurst new texts spacingMs apart; returns how many of them were kept
// (counted by their text: the history limit may drop older entries meanwhile).
int burstKept(const Counter &count, int spacingMs, int run)
{
    const QByteArray prefix = "burst " + QByteArray::number(spacingMs) + ' ' + QByteArray::number(run) + ' ';
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kBurst; ++i) {
        RealProgram::copyText(prefix + QByteArray::number(i));
        const qint64 next = qint64(i + 1) * spacingMs;
        while (clock.elapsed() < next)
            QThread::usleep(500);
    }
    return settledCount(count, prefix);
}

// Copies kEntries new texts one after another, each once the last one is counted.
void copyEntries(const Counter &count, const QByteArray &prefix)
{
    const QByteArray tail = ' ' + QByteArray(200, 'x');
    for (int i = 0; i < kEntries; ++i) {
        RealProgram::copyText(prefix + ' ' + QByteArray::number(i) + tail);
        QDeadlineTimer deadline(10000);
        while (count(prefix) < i + 1 && !deadline.hasExpired())
            QTest::qWait(5);
    }
    QTest::qWait(300);
}

struct Figures {
    QVector<double> startMs, rssStart, pssStart, rssOwnStart, rssFull, rssBurst, pssBurst, kept30, kept10, rssLater,
        pssLater, rssLaterFull;
};

void report(const QString &who, const Figures &f, const QString &memoryTarget)
{
    const auto row = [&](const QString &what, const QVector<double> &v, const QString &unit, const QString &target) {
        Bench::report(who + what, Bench::stats(v), unit, target);
    };
    row(QStringLiteral("launch to tray icon"), f.startMs, QStringLiteral("ms"), QStringLiteral("<= 80 ms"));
    row(QStringLiteral("RSS after start"), f.rssStart, QStringLiteral("MiB"), memoryTarget);
    row(QStringLiteral("PSS after start"), f.pssStart, QStringLiteral("MiB"), QString());
    if (f.rssOwnStart != f.rssStart)
        row(QStringLiteral("RSS after start, main process only"), f.rssOwnStart, QStringLiteral("MiB"), QString());
    row(QStringLiteral("RSS after 60 entries"), f.rssFull, QStringLiteral("MiB"), memoryTarget);
    row(QStringLiteral("kept of 40 copied 30 ms apart"), f.kept30, QStringLiteral("count"), QStringLiteral("40"));
    row(QStringLiteral("kept of 40 copied 10 ms apart"), f.kept10, QStringLiteral("count"), QStringLiteral("40"));
    row(QStringLiteral("RSS after the bursts"), f.rssBurst, QStringLiteral("MiB"), memoryTarget);
    row(QStringLiteral("PSS after the bursts"), f.pssBurst, QStringLiteral("MiB"), QString());
    row(QStringLiteral("RSS after a later start"), f.rssLater, QStringLiteral("MiB"), memoryTarget);
    row(QStringLiteral("PSS after a later start"), f.pssLater, QStringLiteral("MiB"), QString());
    row(QStringLiteral("RSS after a later start and 60 entries"), f.rssLaterFull, QStringLiteral("MiB"), memoryTarget);
}

// The largest resident mappings, on stderr beside the table.
void printBreakdown(const QString &program, qint64 pid)
{
    const auto files = smapsByFile(pid);
    QStringList parts;
    for (int i = 0; i < files.size() && i < 20; ++i)
        parts << QStringLiteral("%1 %2").arg(QString::fromUtf8(files.at(i).first)).arg(files.at(i).second / 1024.0, 0, 'f', 2);
    qInfo("%s, resident MiB after start by mapping: %s", qPrintable(QFileInfo(program).fileName()),
          qPrintable(parts.join(QStringLiteral(", "))));
}

// Waits until the manager's history can be read, then a little longer for the work
// queued behind the tray icon.
void settle(const Counter &count)
{
    QDeadlineTimer ready(20000);
    while (count(QByteArray()) < 0 && !ready.hasExpired())
        QTest::qWait(20);
    QTest::qWait(300);
}

// One manager through every step; children counts the processes it started.
Figures measure(const QString &program, int runs, bool children,
                const std::function<Counter(const QString &home)> &counterFor)
{
    Figures f;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir home;
        RealProgram::Program manager(home.path());
        QElapsedTimer timer;
        timer.start();
        manager.start(program);
        if (!manager.waitForTray(20000)) {
            qWarning("%s: no tray icon appeared", qPrintable(program));
            return f;
        }
        f.startMs.append(timer.nsecsElapsed() / 1e6);
        const Counter count = counterFor(home.path());
        settle(count);
        const auto mib = [&](const char *field) { return smapsKiB(manager.pid(), field, children) / 1024.0; };
        f.rssStart.append(mib("Rss"));
        f.pssStart.append(mib("Pss"));
        f.rssOwnStart.append(smapsKiB(manager.pid(), "Rss") / 1024.0);
        if (run == 0)
            printBreakdown(program, manager.pid());

        // Entries and bursts on a few runs only: they take a while.
        if (run < kFullRuns) {
            copyEntries(count, "bench entry " + QByteArray::number(run));
            f.rssFull.append(mib("Rss"));
            f.kept30.append(burstKept(count, 30, run));
            f.kept10.append(burstKept(count, 10, run));
            QTest::qWait(300);
            f.rssBurst.append(mib("Rss"));
            f.pssBurst.append(mib("Pss"));
            manager.kill();
            manager.start(program);
            if (manager.waitForTray(20000)) {
                settle(count);
                f.rssLater.append(mib("Rss"));
                f.pssLater.append(mib("Pss"));
                copyEntries(count, "later entry " + QByteArray::number(run));
                f.rssLaterFull.append(mib("Rss"));
            }
        }
        manager.kill();
    }
    return f;
}

} // namespace

class BenchStartup : public QObject
{
    Q_OBJECT

private slots:
    void startAndMemory()
    {
        RealProgram::Tray tray;
        QVERIFY2(tray.start(), "trayer did not start");

        // Ours: the database, read through a connection of our own (-1 before it exists).
        const Figures ours = measure(QStringLiteral(ZORVEL_EXECUTABLE), kRuns, false, [](const QString &home) {
            return Counter([home](const QByteArray &prefix) {
                if (!QFile::exists(RealProgram::databaseFor(home)))
                    return -1;
                RealProgram::Reader reader(home);
                if (prefix.isEmpty())
                    return reader.count();
                int n = 0;
                for (const QString &text : reader.contents())
                    n += text.startsWith(QString::fromLatin1(prefix)) ? 1 : 0;
                return n;
            });
        });
        QVERIFY(!ours.startMs.isEmpty());

        Figures copyq;
        if (!QStandardPaths::findExecutable(QStringLiteral("copyq")).isEmpty()) {
            copyq = measure(QStringLiteral("copyq"), 5, true,
                            [](const QString &home) {
                                return Counter([home](const QByteArray &prefix) { return copyqCount(home, prefix); });
                            });
        } else {
            qWarning("copyq is not installed: no comparison");
        }
        // Its server process alone, as the program people see in their process list.
        const double copyqRss = copyq.rssOwnStart.isEmpty() ? 0 : Bench::stats(copyq.rssOwnStart).median;
        const QString target = copyqRss > 0
                                   ? QStringLiteral("<= 38 MB and <= %1 (0.9x CopyQ)").arg(0.9 * copyqRss, 0, 'f', 1)
                                   : QStringLiteral("<= 38 MB");
        report(QStringLiteral("startup: "), ours, target);
        if (!copyq.startMs.isEmpty())
            report(QStringLiteral("CopyQ: "), copyq, QString());
    }
};

ZORVEL_TEST_MAIN(BenchStartup)
#include "bench_startup.moc"
