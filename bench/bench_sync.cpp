// Propagation latency between two devices of one account: from a copy on A to the
// committed row on B, and to B's clipboard ("auto_set_clipboard" on). B is this
// program started again with --peer, in a home and on a display of its own; both
// sides stamp events with the monotonic clock, which the two processes share.
#include "BenchTable.h"
#include "support/TestMain.h"
#include "sync/SyncPeer.h"

#include "app/Wiring.h"
#include "capture/Selvane.h"
#include "net/HistoryService.h"
#include "push/MqttManager.h"
#include "store/HistoryQueries.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>

using namespace NetFixture;

namespace {

constexpr int kCopies = 50;
constexpr int kLargeBytes = 200 * 1024;
constexpr int kEventTimeoutMs = 20000;

double monotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// B (the peer device of the sync tests): for each "expect <hash>" line prints
// "row <ms>" when the row is stored and "clip <ms>" when the entry is on its clipboard.
int peerMain(int argc, char *argv[])
{
    TestEnv::makeHome();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 6)
        return 2;
    if (const int failed = SyncPeer::bringUp(args.at(2), args.at(3), args.at(4), args.at(5)))
        return failed;

    QString expected;
    bool rowSeen = true;
    bool clipSeen = true;
    const auto check = [&] {
        if (!rowSeen) {
            QSqlQuery q;
            q.prepare(QStringLiteral("select 1 from History where file_hash = ? and category = 'history'"));
            q.addBindValue(expected);
            if (q.exec() && q.next()) {
                rowSeen = true;
                SyncPeer::print("row " + QByteArray::number(monotonicMs(), 'f', 3));
            }
        }
    };
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        check();
        if (rowSeen && clipSeen)
            poll.stop();
    });
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed, &app, [&](QClipboard::Mode mode) {
        if (clipSeen || mode != QClipboard::Clipboard)
            return;
        const double at = monotonicMs();
        if (clipUtils::md5Hex(QGuiApplication::clipboard()->text().toUtf8()) != expected)
            return;
        check(); // a row always precedes its clipboard placement
        clipSeen = true;
        SyncPeer::print("clip " + QByteArray::number(at, 'f', 3));
    });
    return SyncPeer::serve([&](const QByteArray &line) {
        const QList<QByteArray> words = line.split(' ');
        if (words.value(0) == "expect") {
            expected = QString::fromLatin1(words.value(1));
            rowSeen = clipSeen = false;
            poll.start();
        }
    });
}

QByteArray nextLine(QProcess &peer, int timeoutMs)
{
    if (!peer.canReadLine()) {
        QEventLoop loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        QObject::connect(&peer, &QProcess::readyReadStandardOutput, &loop, [&] {
            if (peer.canReadLine())
                loop.quit();
        });
        QObject::connect(&peer, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop,
                         &QEventLoop::quit);
        loop.exec();
    }
    return peer.canReadLine() ? peer.readLine().trimmed() : QByteArray();
}

struct Latencies {
    QVector<double> row;
    QVector<double> clip;
};

// Copies `kCopies` distinct texts made by `text` on A; false when B missed one.
bool measure(QProcess &peer, const std::function<QString(int)> &text, Latencies &out)
{
    for (int i = 0; i < kCopies; ++i) {
        const QString copy = text(i);
        peer.write("expect " + clipUtils::md5Hex(copy.toUtf8()).toLatin1() + '\n');
        peer.waitForBytesWritten(1000);
        const double start = monotonicMs();
        Selvane::putText(copy);
        double row = -1;
        double clip = -1;
        while (row < 0 || clip < 0) {
            const QList<QByteArray> words = nextLine(peer, kEventTimeoutMs).split(' ');
            if (words.size() != 2) {
                std::fprintf(stderr, "bench_sync: copy %d did not reach B\n", i);
                return false;
            }
            (words.at(0) == "row" ? row : clip) = words.at(1).toDouble() - start;
        }
        out.row.append(row);
        out.clip.append(clip);
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--peer") == 0)
        return peerMain(argc, argv);

    const std::string home = TestEnv::makeHome();
    QApplication app(argc, argv);
    const QString email = uniqueEmail();
    const QString password = QStringLiteral("bench sync");
    const QString pin = QStringLiteral("2468");
    if (!DBFetcher::instance()->isOpen() || signUp(email, password).code() != 0 || signIn(email, password).code() != 0) {
        std::fprintf(stderr, "bench_sync: the local service is not reachable\n");
        return 1;
    }
    const QString keyPath = SyncPeer::writeKeyFile(createKey(pin));
    if (keyPath.isEmpty())
        return 1;

    Wiring::startCore(app);

    QProcess peer;
    QTemporaryDir peerHome;
    if (!SyncPeer::start(peer, peerHome.path(), {QCoreApplication::applicationFilePath(), QStringLiteral("--peer"),
                                                 email, password, keyPath, pin})) {
        std::fprintf(stderr, "bench_sync: the second device did not come up\n");
        return 1;
    }

    const QString salt = QString::number(QDateTime::currentMSecsSinceEpoch());
    Latencies small;
    Latencies large;
    bool ok = measure(peer, [&](int i) { return QStringLiteral("bench sync %1 %2").arg(i).arg(salt); }, small);
    ok = ok && measure(peer, [&](int i) {
        QString text = QStringLiteral("bench sync large %1 %2 ").arg(i).arg(salt);
        text.reserve(kLargeBytes);
        while (text.size() < kLargeBytes)
            text += QStringLiteral("%1 lorem ipsum dolor sit amet ").arg(text.size());
        text.truncate(kLargeBytes);
        return text;
    }, large);

    const QString target = QStringLiteral("p50 <= 150 ms, p95 <= 400 ms");
    const QString shortTarget = QStringLiteral("p50 <= 30 ms, p95 <= 80 ms");
    if (ok) {
        Bench::report(QStringLiteral("sync A->B short text, row on B"), Bench::stats(small.row), QStringLiteral("ms"),
                      shortTarget);
        Bench::report(QStringLiteral("sync A->B short text, on B's clipboard"), Bench::stats(small.clip),
                      QStringLiteral("ms"), shortTarget);
        Bench::report(QStringLiteral("sync A->B 200 KB text, row on B"), Bench::stats(large.row), QStringLiteral("ms"),
                      target);
        Bench::report(QStringLiteral("sync A->B 200 KB text, on B's clipboard"), Bench::stats(large.clip),
                      QStringLiteral("ms"), target);
    }
    peer.closeWriteChannel();
    if (!peer.waitForFinished(10000))
        peer.kill();
    Selvane::instance()->stop();
    QDir(QString::fromStdString(home)).removeRecursively();
    return ok ? 0 : 1;
}
