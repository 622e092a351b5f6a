// Renders the screenshots of docs/: the tray menu opened from a tray icon with
// its favourites sub-menu, and the settings window. Run by scripts/screenshots on
// a virtual display with a tray (trayer) and a CJK font.
//   zorvel_screenshots <output folder>
#include "support/TestMain.h"
#include "desktop/DesktopFixture.h"

#include "app/Translation.h"
#include "desktop/MainWindow.h"
#include "desktop/MenuManager.h"
#include "plugins/PluginHost.h"
#include "store/HistoryQueries.h"

#include <QDeadlineTimer>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QSettings>
#include <QTabWidget>

#include <functional>

using namespace DesktopFixture;

namespace {

QString g_out;

History pictureEntry(double timestamp, const QString &category)
{
    QImage image(160, 100, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient sky(0, 0, 0, 100);
    sky.setColorAt(0, QColor(0x4a, 0x90, 0xe2));
    sky.setColorAt(1, QColor(0xbf, 0xe0, 0xff));
    p.fillRect(image.rect(), sky);
    p.setBrush(QColor(0xff, 0xc1, 0x07));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPoint(120, 30), 16, 16);
    p.setBrush(QColor(0x2e, 0x7d, 0x32));
    p.drawEllipse(QPoint(40, 120), 90, 50);
    p.end();
    const QByteArray tiff = clipUtils::imageToTiff(image);
    History h;
    h.setContent(clipUtils::imageToJpegBase64(image.scaledToWidth(40)));
    h.setFileHash(clipUtils::md5Hex(tiff + category.toUtf8()));
    h.setTimeStamp(timestamp);
    h.setType(QStringLiteral("image_tiff+zip+enc"));
    h.setFileSize(48213);
    h.setCategory(category);
    h.save();
    return h;
}

void prepareStore()
{
    DBFetcher::instance();
    textEntry(QStringLiteral("会议纪要：周五下午三点在二楼会议室讨论新版本发布计划"), 130);
    textEntry(QStringLiteral("https://example.org/docs/getting-started"), 129);
    History secret = textEntry(QStringLiteral("银行卡号 6222 0000 1234 5678"), 128);
    QSqlQuery(QStringLiteral("update History set secert = 1 where file_hash = '%1'").arg(secret.file_hash())).exec();
    pictureEntry(127, QStringLiteral("history"));
    fileEntry(QStringLiteral("季度报告.pdf"), "%PDF-1.4 report", 126);
    textEntry(QStringLiteral("git commit -m \"Fix the tray menu\""), 125);
    textEntry(QStringLiteral("Hello, world"), 124);
    History fav = textEntry(QStringLiteral("收货地址：上海市浦东新区世纪大道 100 号"), 120, QStringLiteral("favourite"));
    HistoryQueries::setFavourite(120, fav.file_hash());
    pictureEntry(119, QStringLiteral("favourite"));
    textEntry(QStringLiteral("常用回复：好的，收到，谢谢！"), 118, QStringLiteral("favourite"));
    clipUtils::setMenuCleanup(true);
    for (const char *sample : {"trim_space", "url_encode", "cjk_spacing"})
        PluginHost::instance()->install(PluginHost::samplesPath() + QLatin1Char('/') + QLatin1String(sample) + QStringLiteral(".cpk"));
    // Installs finish in the runner.
    QDeadlineTimer installed(10000);
    while (PluginHost::instance()->plugins().size() < 3 && !installed.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    clipUtils::settings()->setValue(QStringLiteral("user_key_words"),
                                    QStringList({QStringLiteral("身份证"), QStringLiteral("密钥"), QStringLiteral("PIN\\s*\\d+")}));
}

// Waits, handling events, until ready() holds (at most ten seconds).
bool waitFor(const std::function<bool()> &ready)
{
    QDeadlineTimer deadline(10000);
    while (!ready()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    // Let the last paint reach the server before the shot.
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return true;
}

bool shoot(const QString &name, const QRect &area)
{
    const QString geometry = QStringLiteral("%1x%2+%3+%4").arg(area.width()).arg(area.height()).arg(area.x()).arg(area.y());
    return QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                                        QStringLiteral("-crop"), geometry,
                                                        g_out + QLatin1Char('/') + name})
        == 0;
}

int run()
{
    if (!waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }))
        qWarning("screenshots: no system tray; the menu is shown without one");
    prepareStore();
    MainWindow *window = MainWindow::instance();
    QSystemTrayIcon *tray = window->trayIcon();
    waitFor([tray] { return !tray->geometry().isEmpty(); });

    // The menu as a click on the tray icon opens it, with the favourites open.
    QMenu *menu = MenuManager::instance()->menu();
    const QRect icon = tray->geometry();
    xdotool({QStringLiteral("mousemove"), QString::number(icon.center().x()), QString::number(icon.center().y())});
    waitFor([icon] { return QCursor::pos() == icon.center(); });
    Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
    if (!waitFor([menu] { return menu->isVisible(); }))
        return 1;
    QMenu *favourites = MenuManager::instance()->favouriteMenu();
    menu->setActiveAction(favourites->menuAction());
    if (!waitFor([favourites] { return favourites->isVisible(); }))
        return 1;
    const QRect screen(QPoint(0, 0), QGuiApplication::primaryScreen()->size());
    QRect area = menu->geometry().united(favourites->geometry()).united(icon).adjusted(-12, -12, 12, 12);
    if (!shoot(QStringLiteral("tray-menu.png"), area.intersected(screen)))
        return 1;

    // The operations of a confidential entry.
    QAction *secret = menu->actions().at(2);
    menu->setActiveAction(secret);
    QMenu *entryMenu = secret->menu();
    if (!waitFor([entryMenu] { return entryMenu->isVisible() && !entryMenu->isEmpty(); }))
        return 1;
    area = menu->geometry().united(entryMenu->geometry()).adjusted(-12, -12, 12, 12);
    if (!shoot(QStringLiteral("entry-menu.png"), area.intersected(screen)))
        return 1;
    menu->hide();
    waitFor([menu] { return !menu->isVisible(); });

    // The settings window.
    window->move(40, 40);
    for (const auto &[tab, name] : {std::pair{int(MainWindow::TabSetting), QStringLiteral("settings-general.png")},
                                    std::pair{int(MainWindow::TabPrivacy), QStringLiteral("settings-privacy.png")},
                                    std::pair{int(MainWindow::TabAbout), QStringLiteral("settings-about.png")}}) {
        window->showTab(tab);
        if (!waitFor([window] { return window->isVisible(); }))
            return 1;
        if (!shoot(name, window->frameGeometry()))
            return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: zorvel_screenshots <output folder>\n");
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    const std::string home = TestEnv::makeHome();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    Translation::install(); // the locale's language, as the program does
    const int rc = run();
    QDir(QString::fromStdString(home)).removeRecursively();
    return rc;
}
