// Store operations on a realistic table: 60 history rows.
#include "BenchTable.h"
#include "support/TestMain.h"

#include "app/CFileManager.h"
#include "app/clipUtils.h"
#include "store/DBFetcher.h"
#include "store/HistoryQueries.h"
#include "store/HistoryStore.h"

namespace {

History entry(int i, double timestamp)
{
    History h;
    h.setContent(QStringLiteral("entry %1").arg(i));
    h.setFileHash(clipUtils::md5Hex(QByteArray::number(i)));
    h.setTimeStamp(timestamp);
    h.setType(QStringLiteral("text_txt+enc"));
    h.setFileSize(10);
    h.setLocalFileOk(true);
    return h;
}

} // namespace

int main(int argc, char *argv[])
{
    const std::string home = TestEnv::makeHome();
    QCoreApplication app(argc, argv);
    DBFetcher::instance();
    for (int i = 0; i < 60; ++i)
        entry(i, 1000 + i).save();

    const int runs = 200;
    Bench::report(QStringLiteral("store: insert new row"),
                  Bench::timeMs(runs, nullptr, [](int i) { entry(10000 + i, 5000 + i).save(); }),
                  QStringLiteral("ms"), QStringLiteral("<= 1 ms"));
    Bench::report(QStringLiteral("store: update existing row"),
                  Bench::timeMs(runs, nullptr, [](int i) { entry(i % 60, 9000 + i).save(); }),
                  QStringLiteral("ms"), QStringLiteral("<= 1 ms"));
    HistoryStore::pruneCategory(QStringLiteral("history"));
    Bench::report(QStringLiteral("store: list(history) over 60 rows"),
                  Bench::timeMs(runs, nullptr, [](int) { HistoryQueries::list(QStringLiteral("history")); }),
                  QStringLiteral("ms"), QStringLiteral("<= 1 ms"));
    Bench::report(QStringLiteral("store: pruneCategory of 61 rows"),
                  Bench::timeMs(
                      runs, [](int i) { entry(20000 + i, 100000 + i).save(); },
                      [](int) { HistoryStore::pruneCategory(QStringLiteral("history")); }),
                  QStringLiteral("ms"), QStringLiteral("<= 1 ms"));
    QDir(QString::fromStdString(home)).removeRecursively();
    return 0;
}
