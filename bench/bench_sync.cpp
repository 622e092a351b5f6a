// Propagation latency between two devices of one account: from a copy on A to the
// committed row on B, and to B's clipboard ("auto_set_clipboard" on). B is this
// program started again with --peer, in a home and on a display of its own; both
// sides stamp events with the monotonic clock, which the two processes share.
#include "BenchTable.h"
#include "net/NetFixture.h"
#include "support/TestMain.h"

#include "app/Wiring.h"
#include "capture/Selvane.h"
#include "net/HistoryService.h"
#include "push/MqttManager.h"
#include "store/HistoryQueries.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSocketNotifier>
#include <QSqlQuery>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <unistd.h>

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

void say(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// B: signs in, unlocks the key, connects to the broker, prints "ready"; then for
// each "expect <hash>" line prints "row <ms>" when the row is stored and
// "clip <ms>" when the entry is on its clipboard.
int peerMain(int argc, char *argv[])
{
    TestEnv::makeHome();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 6 || !DBFetcher::instance()->isOpen())
        return 2;
    if (signIn(args.at(2), args.at(3)).code() != 0)
        return 3;
    QFile keyFile(args.at(4));
    if (!keyFile.open(QIODevice::ReadOnly)
        || !ZeroManager::instance()->importKey(args.at(5),
                                               QJsonDocument::fromJson(keyFile.readAll()).object().toVariantMap()))
        return 4;
    clipUtils::setAutoSetClipboard(true);
    Selvane::instance()->start();
    QObject::connect(&app, &QCoreApplication::aboutToQuit, Selvane::instance(), &Selvane::stop);

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
                say("row " + QByteArray::number(monotonicMs(), 'f', 3));
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
        say("clip " + QByteArray::number(at, 'f', 3));
    });

    MqttManager *mqtt = MqttManager::instance();
    QObject::connect(mqtt, &MqttManager::subscribed, &app, [] { say("ready"); }, Qt::QueuedConnection);
    mqtt->connectBroker();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[1024];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, int(n));
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QList<QByteArray> words = pending.left(end).trimmed().split(' ');
            pending.remove(0, end + 1);
            if (words.value(0) == "expect") {
                expected = QString::fromLatin1(words.value(1));
                rowSeen = clipSeen = false;
                poll.start();
            }
        }
    });
    return app.exec();
}

// One line from B, the event loop of A running meanwhile; empty on timeout.
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
    const QString keyPath = QDir::homePath() + QStringLiteral("/key.json");
    QFile keyFile(keyPath);
    if (!keyFile.open(QIODevice::WriteOnly))
        return 1;
    keyFile.write(QJsonDocument(QJsonObject::fromVariantMap(createKey(pin))).toJson());
    keyFile.close();

    Wiring::startCore(app);

    QProcess peer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "DISPLAY",
                             "ZORVEL_TEST_DISPLAY"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=false"));
    peer.setProcessEnvironment(env);
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    peer.start(QStringLiteral(ZORVEL_WITH_XVFB), {QCoreApplication::applicationFilePath(), QStringLiteral("--peer"),
                                                  email, password, keyPath, pin});
    if (!peer.waitForStarted() || nextLine(peer, 60000) != "ready") {
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
    if (ok) {
        Bench::report(QStringLiteral("sync A->B short text, row on B"), Bench::stats(small.row), QStringLiteral("ms"),
                      target);
        Bench::report(QStringLiteral("sync A->B short text, on B's clipboard"), Bench::stats(small.clip),
                      QStringLiteral("ms"), target);
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
