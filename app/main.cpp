#include "app/Constants.h"
#include "app/LogHandler.h"
#include "capture/Selvane.h"
#include "desktop/MainWindow.h"
#include "desktop/MenuManager.h"
#include "desktop/EncryptWindow.h"
#include "net/HistoryService.h"
#include "net/SyncHandOver.h"
#include "platform/SingleInstance.h"
#include "plugins/PluginHost.h"
#include "plugins/pluginWindow.h"
#include "push/MqttManager.h"
#include "store/DBFetcher.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // Nothing is drawn with OpenGL; without this the first mapped window (the tray
    // icon) loads the GL driver stack, which doubles the resident memory.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);
    if (!SingleInstance::acquire(QLatin1String(Zorvel::kAppIdentifier)))
        return 1;
    qInstallMessageHandler(logMessageHandler);
    // Windows start hidden and message boxes come and go; only the tray menu quits.
    QApplication::setQuitOnLastWindowClosed(false);

    DBFetcher::instance();
    Selvane::instance()->start();
    QObject::connect(&app, &QCoreApplication::aboutToQuit, Selvane::instance(), &Selvane::stop);
    // Notifications from the user's other devices; connects at once when signed in.
    MqttManager *mqtt = MqttManager::instance();
    mqtt->connectBroker();
    MainWindow::instance()->hide();
    QObject::connect(mqtt, &MqttManager::clipboardUpdated, MainWindow::instance(), &MainWindow::showClipboardNotice);
    // After every capture: push what the capture left pending.
    QObject::connect(Selvane::instance(), &Selvane::historyChanged, HistoryService::instance(),
                     &HistoryService::pushPending);

    // The plugin window starts the plugin engine; it stays hidden until the tray
    // menu's "插件" item shows it.
    PluginHost::instance()->installSamplesOnFirstStart();
    pluginWindow::instance()->hide();
    // Entry sub-menus list the plugins.
    QObject::connect(pluginWindow::instance(), &pluginWindow::pluginsChanged, MenuManager::instance(),
                     &MenuManager::markDirty);
    EncryptWindow::instance()->hide();

    return app.exec();
}
