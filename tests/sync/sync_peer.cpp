// The second device of the two-client tests, run in a home and on a display of its
// own:  sync_peer <email> <password> <key.json> <pin>
// It signs in, unlocks the key, switches "auto_set_clipboard" on, connects to the
// broker and prints "ready". Then it answers one command per line on stdin, each
// line "<number> <command>" and each answer "<number> <answer>":
//   rows            JSON array of its rows
//   file <hash>     MD5 of files/<hash>, or "none"
//   clip            the clipboard text as JSON string
//   favsync         runs a favourites download, then prints "done"
#include "PeerDevice.h"

#include "app/CFileManager.h"
#include "net/CRequestGetFavourite.h"

#include <QClipboard>
#include <QJsonArray>
#include <QSqlQuery>

namespace {

QByteArray rowsJson()
{
    QJsonArray rows;
    QSqlQuery q(QStringLiteral("select file_hash, category, favourite, local_file_ok, change_timestamp, content, "
                               "timestamp from History"));
    while (q.next())
        rows.append(QJsonObject{{QStringLiteral("file_hash"), q.value(0).toString()},
                                {QStringLiteral("category"), q.value(1).toString()},
                                {QStringLiteral("favourite"), q.value(2).toLongLong()},
                                {QStringLiteral("local_file_ok"), q.value(3).toInt()},
                                {QStringLiteral("pending"), q.value(4).toDouble() > 0},
                                {QStringLiteral("content"), q.value(5).toString()},
                                {QStringLiteral("timestamp"), q.value(6).toLongLong()}});
    return QJsonDocument(rows).toJson(QJsonDocument::Compact);
}

void command(const QByteArray &line)
{
    QList<QByteArray> words = line.trimmed().split(' ');
    const QByteArray tag = words.takeFirst() + ' ';
    const auto reply = [tag](const QByteArray &answer) { PeerDevice::print(tag + answer); };
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
    if (args.size() < 5)
        return 2;
    if (const int failed = PeerDevice::bringUp(args.at(1), args.at(2), args.at(3), args.at(4)))
        return failed;
    return PeerDevice::serve(command);
}
