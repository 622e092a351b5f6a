// Tray menu: a full rebuild with 30 history and 30 favourite entries (texts,
// image thumbnails and files), as after every capture; and the hot key's slot to
// the menu mapped on the X server (its first expose).
#include "BenchTable.h"
#include "support/TestMain.h"

#include "app/clipUtils.h"
#include "desktop/TrayPresence.h"
#include "desktop/MenuManager.h"
#include "store/DBFetcher.h"

#include <QApplication>
#include <QImage>
#include <QDeadlineTimer>
#include <QMenu>
#include <QWindow>

namespace {

void addEntry(int i, const QString &category)
{
    History h;
    h.setTimeStamp(1000 + i);
    h.setCategory(category);
    h.setFileSize(100);
    if (i % 3 == 0) {
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(QColor::fromHsv((i * 37) % 360, 200, 220));
        h.setType(QStringLiteral("image_tiff+zip+enc"));
        h.setContent(clipUtils::imageToJpegBase64(image));
    } else if (i % 5 == 0) {
        h.setType(QStringLiteral("file_pdf+zip+enc"));
        h.setFileName(QStringLiteral("document %1.pdf").arg(i));
        h.setContent(h.file_name());
    } else {
        h.setType(QStringLiteral("text_txt+enc"));
        h.setContent(clipUtils::previewText(QStringLiteral("clipboard text number %1 with a few more words").arg(i)));
    }
    h.setFileHash(clipUtils::md5Hex(category.toUtf8() + QByteArray::number(i)));
    h.save();
}

} // namespace

int main(int argc, char *argv[])
{
    const std::string home = TestEnv::makeHome();
    QApplication app(argc, argv);
    DBFetcher::instance();
    for (int i = 0; i < 30; ++i) {
        addEntry(i, QStringLiteral("history"));
        addEntry(i, QStringLiteral("favourite"));
    }
    MenuManager *menu = MenuManager::instance();
    if (menu->menu()->actions().size() < 30 || menu->favouriteMenu()->actions().size() != 30) {
        std::fprintf(stderr, "bench_menu: the menu does not hold the prepared entries\n");
        return 1;
    }
    // Rebuilds delete the previous items later, as in the running program.
    Bench::report(QStringLiteral("menu: rebuild, 30 history + 30 favourites"),
                  Bench::timeMs(
                      200, [](int) { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); },
                      [menu](int) { menu->updateMenu(); }),
                  QStringLiteral("ms"), QStringLiteral("<= 5 ms"));

    const auto exposed = [menu]() { return menu->menu()->windowHandle() && menu->menu()->windowHandle()->isExposed(); };
    const auto spinUntil = [](const std::function<bool()> &done) {
        QDeadlineTimer deadline(5000);
        while (!done() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        return done();
    };
    TrayPresence::instance();
    QVector<double> mapped;
    for (int i = 0; i < 30; ++i) {
        QElapsedTimer timer;
        timer.start();
        TrayPresence::instance()->keyPressed();
        if (!spinUntil(exposed)) {
            std::fprintf(stderr, "bench_menu: the menu was not mapped\n");
            return 1;
        }
        mapped.append(timer.nsecsElapsed() / 1e6);
        menu->menu()->hide();
        spinUntil([&]() { return !exposed(); });
    }
    Bench::report(QStringLiteral("menu: hot key to menu mapped, 30 + 30 entries"), Bench::stats(mapped),
                  QStringLiteral("ms"), QStringLiteral("<= 16 ms"));
    QDir(QString::fromStdString(home)).removeRecursively();
    return 0;
}
