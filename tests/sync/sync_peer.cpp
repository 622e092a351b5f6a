// The second device of the two-client tests, run in a home and on a display of its
// own:  sync_peer <email> <password> <key.json> <pin>
// It signs in, unlocks the key, switches "auto_set_clipboard" on, connects to the
// broker and prints "ready". Then it answers one command per line on stdin, each
// line "<number> <command>" and each answer "<number> <answer>":
//   rows            JSON array of its rows
//   file <hash>     MD5 of files/<hash>, or "none"
//   clip            the clipboard text as JSON string
//   favsync         runs a favourites download, then prints "done"
#include "net/NetFixture.h"

#include "app/CFileManager.h"
#include "capture/Selvane.h"
#include "net/CRequestGetFavourite.h"
#include "net/HistoryService.h"
#include "push/MqttManager.h"
#include "store/HistoryQueries.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QSqlQuery>

#include <cstdio>
#include <unistd.h>
#include <utility>

using namespace NetFixture;

namespace {

void print(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QByteArray rowsJson()
{
    QJsonArray rows;
    QSqlQuery q(QStringLiteral("select file_hash, category, favourite, local_file_ok, change_timestamp, content "
                               "from History"));
    while (q.next())
        rows.append(QJsonObject{{QStringLiteral("file_hash"), q.value(0).toString()},
                                {QStringLiteral("category"), q.value(1).toString()},
                                {QStringLiteral("favourite"), q.value(2).toLongLong()},
                                {QStringLiteral("local_file_ok"), q.value(3).toInt()},
                                {QStringLiteral("pending"), q.value(4).toDouble() > 0},
                                {QStringLiteral("content"), q.value(5).toString()}});
    return QJsonDocument(rows).toJson(QJsonDocument::Compact);
}

void command(const QByteArray &line)
{
    QList<QByteArray> words = line.trimmed().split(' ');
    const QByteArray tag = words.takeFirst() + ' ';
    const auto reply = [tag](const QByteArray &answer) { print(tag + answer); };
    const QByteArray verb = words.value(0);
    if (verb == "rows") {
        reply(rowsJson());
    } else if (verb == "file") {
        const QString path = CFileManager::entryPath(CFileManager::filesPath(), QString::fromLatin1(words.value(1)));
        reply(QFile::exists(path) ? clipUtils::fileMd5(path).toLatin1() : QByteArray("none"));
    } else if (verb == "clip") {
        reply(QJsonDocument(QJsonArray{QGuiApplication::clipboard()->text()}).toJson(QJsonDocument::Compact));
    } else if (verb == "favsync") {
        auto *request = new CRequestGetFavourite;
        QObject::connect(request, &CBaseRequest::responseData, [reply](CBaseRequest *done, QVariant) {
            done->deleteLater();
            reply("done");
        });
        request->start();
    } else {
        reply("unknown");
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5 || !DBFetcher::instance()->isOpen())
        return 2;
    if (signIn(args.at(1), args.at(2)).code() != 0)
        return 3;
    QFile keyFile(args.at(3));
    if (!keyFile.open(QIODevice::ReadOnly)
        || !ZeroManager::instance()->importKey(args.at(4), QJsonDocument::fromJson(keyFile.readAll()).object().toVariantMap()))
        return 4;
    clipUtils::setAutoSetClipboard(true);

    Selvane::instance()->start();
    QObject::connect(Selvane::instance(), &Selvane::historyChanged, HistoryService::instance(),
                     &HistoryService::pushPending);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, Selvane::instance(), &Selvane::stop);
    MqttManager *mqtt = MqttManager::instance();
    // Once: a reconnect under load subscribes again.
    bool ready = false;
    QObject::connect(mqtt, &MqttManager::subscribed, &app, [&ready] {
        if (!std::exchange(ready, true))
            print("ready");
    }, Qt::QueuedConnection);
    mqtt->connectBroker();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, int(n));
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            command(pending.left(end));
            pending.remove(0, end + 1);
        }
    });
    return app.exec();
}
