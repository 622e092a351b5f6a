// A second client for the two-device tests, run in a home of its own:
//   net_peer pull <email> <password> <key.json> <pin>   sign in, unlock, pull, print the rows
//   net_peer push <email> <password> <key.json> <pin> <text>   ... capture text and push it
// Prints one JSON document on stdout; exit code 0 on success.
#include "NetFixture.h"

#include "app/CFileManager.h"
#include "net/CPullRequest.h"
#include "net/HistoryService.h"
#include "net/SyncHandOver.h"
#include "store/HistoryQueries.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

using namespace NetFixture;

namespace {

int fail(const char *what)
{
    std::fprintf(stderr, "net_peer: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 6)
        return fail("usage: net_peer pull|push <email> <password> <key.json> <pin> [text]");
    if (!DBFetcher::instance()->isOpen())
        return fail("no database");

    if (signIn(args.at(2), args.at(3)).code() != 0)
        return fail("sign-in refused");
    QFile keyFile(args.at(4));
    if (!keyFile.open(QIODevice::ReadOnly))
        return fail("no key file");
    const QVariantMap dictionary = QJsonDocument::fromJson(keyFile.readAll()).object().toVariantMap();
    if (!ZeroManager::instance()->importKey(args.at(5), dictionary))
        return fail("key not unlocked");

    if (args.at(1) == QLatin1String("push")) {
        if (args.size() < 7)
            return fail("no text");
        captureText(args.at(6));
        QSignalSpy handOver(SyncHandOver::instance(), &SyncHandOver::fileTransferRequested);
        HistoryService::instance()->pushPending();
        if (handOver.isEmpty() && !handOver.wait(30000))
            return fail("push chain did not finish");
    } else if (run(new CPullRequest).data.toInt() != 0) {
        return fail("pull failed");
    }

    QJsonArray rows;
    for (const History &h : HistoryQueries::listHistory()) {
        rows.append(QJsonObject{{QStringLiteral("file_hash"), h.file_hash()},
                                {QStringLiteral("content"), h.content()},
                                {QStringLiteral("history_id"), h.history_id()},
                                {QStringLiteral("local_file_ok"), h.local_file_ok()},
                                {QStringLiteral("file"), QString::fromUtf8(CFileManager::readFile(h.file_hash()))},
                                {QStringLiteral("pending"), h.change_timestamp() > 0}});
    }
    std::fputs(QJsonDocument(rows).toJson(QJsonDocument::Compact).constData(), stdout);
    return 0;
}
