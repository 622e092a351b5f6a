#include "app/Constants.h"
#include "app/LogHandler.h"
#include "capture/Selvane.h"
#include "desktop/MainWindow.h"
#include "desktop/MenuManager.h"
#include "e2ee/EncryptWindow.h"
#include "net/HistoryService.h"
#include "platform/SingleInstance.h"
#include "plugins/PluginHost.h"
#include "plugins/pluginWindow.h"
#include "store/DBFetcher.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);
    if (!SingleInstance::acquire(QLatin1String(Zorvel::kAppIdentifier)))
        return 1;
    qInstallMessageHandler(logMessageHandler);
    // Windows start hidden and message boxes come and go; only the tray menu quits.
    QApplication::setQuitOnLastWindowClosed(false);

    DBFetcher::instance();
    Selvane::instance()->start();
    // Every capture may leave an entry for the service.
    QObject::connect(Selvane::instance(), &Selvane::historyChanged, HistoryService::instance(),
                     &HistoryService::pushPending);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, Selvane::instance(), &Selvane::stop);
    MainWindow::instance()->hide();
    QObject::connect(Selvane::instance(), &Selvane::historyChanged, MenuManager::instance(), &MenuManager::updateMenu);

    // The plugin window starts the plugin engine; it stays hidden until the tray
    // menu's "插件" item shows it.
    PluginHost::instance()->installSamplesOnFirstStart();
    pluginWindow::instance()->hide();
    QObject::connect(pluginWindow::instance(), &pluginWindow::sigUpdateMenu, MenuManager::instance(),
                     &MenuManager::updateMenu);
    EncryptWindow::instance()->hide();

    return app.exec();
}
