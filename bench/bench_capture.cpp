// Capture latency: from the clipboard's change signal to the committed row (the
// watcher's historyChanged), with 60 rows stored, and the longest stall of the main
// thread meanwhile (the largest gap between the turns of a 1 ms timer: what the
// menu and the hot key would wait). Another process (xclip) owns the clipboard, as
// in real use; every copy is new content, so nothing is skipped as already stored.
#include "BenchImages.h"
#include "BenchTable.h"
#include "support/TestMain.h"

#include "app/clipUtils.h"
#include "capture/Selvane.h"
#include "store/DBFetcher.h"

#include <QBuffer>
#include <QClipboard>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>

namespace {

const int kRuns = qEnvironmentVariableIsSet("ZORVEL_BENCH_RUNS") ? qEnvironmentVariableIntValue("ZORVEL_BENCH_RUNS") : 50;

QList<QProcess *> g_owners;

void stopOwners()
{
    for (QProcess *owner : qAsConst(g_owners)) {
        owner->kill();
        owner->waitForFinished();
        delete owner;
    }
    g_owners.clear();
}

// xclip serves the bytes until the next copy takes over, then ends by itself. The
// event loop feeds it its input; the measurement starts once it owns the clipboard.
void copy(const QByteArray &bytes, const QString &target)
{
    auto *owner = new QProcess;
    owner->setStandardOutputFile(QProcess::nullDevice());
    owner->setStandardErrorFile(QProcess::nullDevice());
    owner->start(QStringLiteral("xclip"), {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                                           QStringLiteral("clipboard"), QStringLiteral("-t"), target,
                                           QStringLiteral("-i")});
    owner->write(bytes);
    owner->closeWriteChannel();
    QObject::connect(owner, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), [owner]() {
        g_owners.removeOne(owner);
        owner->deleteLater();
    });
    g_owners.append(owner);
}

QByteArray pseudoRandom(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

} // namespace

int main(int argc, char *argv[])
{
    const std::string home = TestEnv::makeHome();
    int rc = 0;
    {
        QApplication app(argc, argv);
        DBFetcher::instance();
        for (int i = 0; i < 60; ++i) {
            History row;
            row.setContent(QStringLiteral("stored %1").arg(i));
            row.setFileHash(clipUtils::md5Hex(QByteArray::number(i)));
            row.setTimeStamp(1000 + i);
            row.setType(QStringLiteral("text_txt+enc"));
            row.save();
        }

        // Connected before the watcher's own slot, so it starts first.
        QElapsedTimer latency;
        QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed, [&](QClipboard::Mode mode) {
            if (mode == QClipboard::Clipboard)
                latency.start();
        });
        Selvane *watcher = Selvane::instance();
        watcher->start();
        QElapsedTimer sinceTick;
        double longestStallMs = 0;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        ticker.setInterval(1);
        QObject::connect(&ticker, &QTimer::timeout, [&]() {
            longestStallMs = std::max(longestStallMs, sinceTick.nsecsElapsed() / 1e6);
            sinceTick.start();
        });
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        double lastMs = -1;
        QObject::connect(watcher, &Selvane::historyChanged, [&]() {
            lastMs = latency.nsecsElapsed() / 1e6;
            loop.quit();
        });

        const auto measure = [&](const QString &name, const QString &target, const QString &mime,
                                 const std::function<QByteArray(int)> &content, const QString &stallName = QString()) {
            QVector<double> samples, stalls;
            for (int i = 0; i < kRuns; ++i) {
                const QByteArray bytes = content(i);
                lastMs = -1;
                copy(bytes, mime);
                deadline.start(20000);
                longestStallMs = 0;
                sinceTick.start();
                ticker.start();
                loop.exec();
                ticker.stop();
                stalls.append(longestStallMs);
                if (lastMs < 0) {
                    std::fprintf(stderr, "%s: copy %d was not captured\n", qPrintable(name), i);
                    rc = 1;
                    return;
                }
                samples.append(lastMs);
            }
            Bench::report(name, Bench::stats(samples), QStringLiteral("ms"), target);
            if (!stallName.isEmpty())
                Bench::report(stallName, Bench::stats(stalls), QStringLiteral("ms"), QStringLiteral("<= 16 ms"));
        };

        measure(QStringLiteral("capture: 1 KB text"), QStringLiteral("<= 2 ms"), QStringLiteral("UTF8_STRING"),
                [](int i) { return pseudoRandom(1024, i).toBase64().left(1024); });
        measure(
            QStringLiteral("capture: 1920x1080 image"), QStringLiteral("<= 100 ms"), QStringLiteral("image/png"),
            [](int i) { return BenchImages::screenshotPng(i); }, QStringLiteral("capture: main-thread stall, 1080p image"));
        const QString file = QString::fromStdString(home) + QStringLiteral("/copied.bin");
        measure(
            QStringLiteral("capture: 5 MiB file"), QStringLiteral("<= 60 ms"), QStringLiteral("text/uri-list"),
            [&](int i) {
                    // Each copy names a new file: an already stored file would not be copied again.
                    const QString path = file + QString::number(i);
                    QFile out(path);
                    out.open(QIODevice::WriteOnly);
                    out.write(pseudoRandom(5 * 1024 * 1024, 1000 + i));
                    return QUrl::fromLocalFile(path).toEncoded() + "\r\n";
            },
            QStringLiteral("capture: main-thread stall, 5 MiB file"));
        stopOwners();
        watcher->stop();
    }
    QDir(QString::fromStdString(home)).removeRecursively();
    return rc;
}
