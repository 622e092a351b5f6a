#include "app/Constants.h"
#include "app/LogHandler.h"
#include "app/Wiring.h"
#include "desktop/MainWindow.h"
#include "desktop/MenuManager.h"
#include "desktop/EncryptWindow.h"
#include "platform/SingleInstance.h"
#include "plugins/PluginHost.h"
#include "plugins/pluginWindow.h"
#include "push/MqttManager.h"

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

    Wiring::startCore(app);
    // Notifications from the user's other devices; connects at once when signed in.
    MqttManager *mqtt = MqttManager::instance();
    mqtt->connectBroker();
    MainWindow::instance()->hide();
    QObject::connect(mqtt, &MqttManager::clipboardUpdated, MainWindow::instance(), &MainWindow::showClipboardNotice);

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
