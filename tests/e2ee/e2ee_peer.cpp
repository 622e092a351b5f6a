// The second device of the encryption flow tests, run in a home the test keeps:
//   e2ee_peer <email> <password> <step>...
// steps: "signin", "pull", "unlock:<pin>" (the encryption window's button, the
// unlock wizard answered with <pin>, cancelled when it comes back).
// Prints a JSON array with one object per step; exit code 0 when every step ran.
#include "WizardDriver.h"
#include "net/NetFixture.h"

#include "app/CFileManager.h"
#include "desktop/EncryptWindow.h"
#include "net/CPullRequest.h"
#include "store/HistoryQueries.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

using namespace NetFixture;

namespace {

QJsonObject state(const QString &step, const QStringList &boxes)
{
    ZeroManager *zero = ZeroManager::instance();
    QJsonArray rows;
    for (const History &h : HistoryQueries::listHistory())
        rows.append(QJsonObject{{"file_hash", h.file_hash()}, {"content", h.content()}, {"history_id", h.history_id()},
                                {"file", QString::fromUtf8(CFileManager::readFile(h.file_hash()))}});
    return QJsonObject{{"step", step}, {"has_key", zero->hasKey()}, {"key_hash", zero->keyHash()},
                       {"boxes", QJsonArray::fromStringList(boxes)}, {"rows", rows}};
}

bool unlock(const QString &pin, QStringList *boxesSeen)
{
    EncryptWindow *window = EncryptWindow::instance();
    WizardDriver driver({pin});
    window->activeClicked();
    const bool done = QTest::qWaitFor([&] {
        return !window->isBusy() && !QApplication::activeModalWidget() && (driver.cancelled() > 0 || !driver.seen().isEmpty());
    }, 60000);
    *boxesSeen = driver.seen();
    return done;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    const QStringList args = app.arguments();
    if (args.size() < 4 || !DBFetcher::instance()->isOpen())
        return 2;
    EncryptWindow::instance()->show();

    QJsonArray out;
    int failed = 0;
    for (const QString &step : args.mid(3)) {
        QStringList boxes;
        const bool ok = step == "signin"            ? signIn(args.at(1), args.at(2)).code() == 0
                        : step == "pull"            ? run(new CPullRequest).reports == 1
                        : step.startsWith("unlock:") ? unlock(step.mid(7), &boxes)
                                                     : false;
        out.append(state(step, boxes));
        if (!ok) {
            std::fprintf(stderr, "e2ee_peer: step %s failed\n", qPrintable(step));
            failed = 1;
            break;
        }
    }
    std::fputs(QJsonDocument(out).toJson(QJsonDocument::Compact).constData(), stdout);
    return failed;
}
