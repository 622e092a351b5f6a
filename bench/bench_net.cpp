// Cloud API client against the local service: the first sync of a fresh store on an
// account of 600 entries (two pages), and a push chain draining 60 pending entries.
// Wall time of each.
#include "BenchTable.h"
#include "net/NetFixture.h"
#include "support/TestMain.h"

#include "app/CFileManager.h"
#include "net/CPullRequest.h"
#include "net/HistoryService.h"
#include "net/SyncHandOver.h"

#include <QDir>
#include <QSettings>

#include <cstdio>

using namespace NetFixture;

namespace {

// Pushes every pending entry; false when the chain stalls.
bool drain()
{
    QSignalSpy handOver(SyncHandOver::instance(), &SyncHandOver::fileTransferRequested);
    HistoryService::instance()->pushPending();
    return !handOver.isEmpty() || handOver.wait(120000);
}

void captureBatch(int count, int run)
{
    const double base = 1.6e9 + run * 10000;
    for (int i = 0; i < count; ++i)
        captureText(QStringLiteral("bench entry %1 of run %2: some copied text").arg(i).arg(run), base + i);
}

void freshStore()
{
    wipeStore();
    QDir(CFileManager::filesPath()).removeRecursively();
    clipUtils::settings()->remove(QStringLiteral("request_timestamp"));
}

} // namespace

int main(int argc, char *argv[])
{
    const std::string home = TestEnv::makeHome();
    QCoreApplication app(argc, argv);
    if (!DBFetcher::instance()->isOpen() || signUp(uniqueEmail(), QStringLiteral("bench")).code() != 0) {
        std::fprintf(stderr, "bench_net: the local service is not reachable\n");
        return 1;
    }
    createKey();
    bool ok = true;

    const Bench::Stats push = Bench::timeMs(
        5, [](int run) { freshStore(); captureBatch(60, run); }, [&ok](int) { ok = drain() && ok; });
    Bench::report(QStringLiteral("net push chain, 60 pending entries"), push, QStringLiteral("ms"),
                  QStringLiteral("<= 150 ms"));

    // 600 entries of a second account on the service (untimed), then pulled into an
    // empty store each run: one sync, two pages.
    ok = signUp(uniqueEmail(), QStringLiteral("bench")).code() == 0 && ok;
    createKey();
    freshStore();
    captureBatch(600, 100);
    ok = drain() && ok;
    int applied = 0;
    int pages = 0;
    const Bench::Stats pull = Bench::timeMs(
        5, [](int) { freshStore(); },
        [&](int) {
            auto *sync = new CPullRequest;
            QObject::connect(sync, &CBaseRequest::responseData, [&pages](CBaseRequest *done, QVariant) {
                pages = static_cast<CPullRequest *>(done)->pages();
            });
            ok = run(sync).data.toInt() == 0 && ok;
            applied = rows();
        });
    Bench::report(QStringLiteral("net first sync of 600 entries (2 requests), fresh store"), pull, QStringLiteral("ms"),
                  QStringLiteral("<= 150 ms"));
    if (!ok || applied != 60 || pages != 2)
        std::fprintf(stderr, "bench_net: a chain or pull failed (%d rows kept, %d pages)\n", applied, pages);
    ok = ok && applied == 60 && pages == 2;
    return ok ? 0 : 1;
}
