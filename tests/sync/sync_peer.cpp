// The second device of the two-client tests, run in a home and on a display of its
// own:  sync_peer <email> <password> <key.json> <pin>
// It signs in, unlocks the key, switches "auto_set_clipboard" on, connects to the
// broker and prints "ready". Then it answers each command line on stdin with one line
// (the test reads its rows and files in its home):
//   clip            the clipboard text (one line)
//   favsync         runs a favourites download, then prints "done"
#include "SyncPeer.h"

#include "net/CRequestGetFavourite.h"

#include <QClipboard>

namespace {

void command(const QByteArray &line)
{
    if (line == "clip") {
        SyncPeer::print(QGuiApplication::clipboard()->text().toUtf8());
    } else if (line == "favsync") {
        auto *request = new CRequestGetFavourite;
        QObject::connect(request, &CBaseRequest::responseData, [](CBaseRequest *done, QVariant) {
            done->deleteLater();
            SyncPeer::print("done");
        });
        request->start();
    } else {
        SyncPeer::print("unknown");
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5)
        return 2;
    if (const int failed = SyncPeer::bringUp(args.at(1), args.at(2), args.at(3), args.at(4)))
        return failed;
    return SyncPeer::serve(command);
}
