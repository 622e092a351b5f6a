#include "app/CommandLine.h"
#include "app/Constants.h"
#include "app/LogHandler.h"
#include "app/Translation.h"
#include "app/Wiring.h"
#include "desktop/MenuManager.h"
#include "desktop/TrayPresence.h"
#include "platform/Backend.h"
#include "platform/InstanceChannel.h"
#include "platform/SingleInstance.h"
#include "plugins/PluginHost.h"
#include "plugins/pluginWindow.h"
#include "push/MqttManager.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Nothing is drawn with OpenGL; without this the first mapped window (the tray
    // icon) loads the GL driver stack, which doubles the resident memory.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    const CommandLine commandLine(CommandLine::arguments(argc, argv));
    if (!commandLine.startsProgram()) {
        // Help, version or a wrong option: answered in the user's language, without a display.
        QCoreApplication core(argc, argv);
        Translation::install();
        return CommandLine(QCoreApplication::arguments()).report();
    }
    const bool show = commandLine.isSet(QStringLiteral("show"));
    // X11, or Wayland directly; decides Qt's platform too, so before the application.
    const QString platformNote = PlatformBackend::chooseBeforeApplication();
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);
    Translation::install();

    if (!SingleInstance::acquire(QLatin1String(Zorvel::kAppIdentifier))) {
        // A desktop shortcut bound to `zorvel --show`: the running instance opens its menu.
        if (!show)
            return 1;
        if (InstanceChannel::send(QLatin1String(Zorvel::kAppIdentifier), QStringLiteral("show")))
            return 0;
        std::fputs("zorvel: the running instance did not take the request\n", stderr);
        return 1;
    }
    qInstallMessageHandler(logMessageHandler);
    if (!platformNote.isEmpty())
        qInfo("%s", qPrintable(platformNote));
    // Windows start hidden and message boxes come and go; only the tray menu quits.
    QApplication::setQuitOnLastWindowClosed(false);

    Wiring::startCore(app);
    // Notifications from the user's other devices; connects at once when signed in.
    MqttManager *mqtt = MqttManager::instance();
    mqtt->connectBroker();
    // The tray icon and hot key; the settings window is made when first opened.
    TrayPresence *tray = TrayPresence::instance();
    QObject::connect(mqtt, &MqttManager::clipboardUpdated, tray, &TrayPresence::showClipboardNotice);

    PluginHost::instance()->installSamplesOnFirstStart();
    // The plugin and encryption windows are made when the tray menu first opens
    // them (or a plugin first asks something): start-up shows only the tray icon.
    pluginWindow::answerPluginsOnFirstUse();
    // Entry sub-menus list the plugins.
    QObject::connect(PluginHost::instance(), &PluginHost::pluginsChanged, MenuManager::instance(),
                     &MenuManager::markDirty);

    InstanceChannel channel;
    QObject::connect(&channel, &InstanceChannel::requested, tray, [tray] {
        qInfo("menu: opened for a later start (--show)");
        tray->keyPressed();
    });
    channel.listen(QLatin1String(Zorvel::kAppIdentifier));
    if (show)
        QMetaObject::invokeMethod(tray, &TrayPresence::keyPressed, Qt::QueuedConnection);

    return app.exec();
}
