#include "plugins/PluginHost.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/clipUtils.h"
#include "plugins/AppModule.h"

#include <marrowby.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>

PluginHost::PluginHost()
{
    PluginObject::registerMetaType();
    m_state = new_clip_state();
    open_native_library = &registerAppModule;
    const QString pluginsDir = CFileManager::pluginsPath();
    const QString tmpDir = CFileManager::tmpPath();
    qInfo("%s", qPrintable(pluginsDir));
    init_with_path(QFile::encodeName(pluginsDir).constData(), QFile::encodeName(tmpDir).constData(), m_state);
    load_plugins(m_state);
}

QList<PluginObject> PluginHost::plugins() const
{
    QList<PluginObject> list;
    const int count = plugin_count(m_state);
    for (int i = 0; i < count; ++i)
        list.append(PluginObject(plugin_at(m_state, i)));
    return list;
}

QString PluginHost::execute(const QString &text, const PluginObject &plugin)
{
    if (!plugin.handle || !isLoaded(plugin.handle)) {
        qWarning("plugin %s is no longer installed", qPrintable(plugin.name));
        return QString();
    }
    const QByteArray bytes = text.toUtf8();
    const char *result = plugin_execute_text(plugin.handle, bytes.constData());
    if (!result && *plugin_last_error(m_state))
        // The engine's message can quote the text, which may be confidential.
        qWarning("plugin %s failed; its result is empty", qPrintable(plugin.name));
    return result ? QString::fromUtf8(result) : QString();
}

void PluginHost::install(const QString &path)
{
    const int rc = install_plugin(path.toUtf8().constData(), m_state);
    if (rc != 0) {
        qWarning("%s", qPrintable(QStringLiteral("plugin %1 install error with return code : %2").arg(path).arg(rc)));
        qInfo("plugin install: %s", plugin_last_error(m_state));
    }
}

bool PluginHost::isLoaded(const clip_plugin *handle) const
{
    const int count = plugin_count(m_state);
    for (int i = 0; i < count; ++i) {
        if (plugin_at(m_state, i) == handle)
            return true;
    }
    return false;
}

void PluginHost::remove(const PluginObject &plugin)
{
    // The id is read through the handle, so only a handle of a loaded plugin
    // may be dereferenced.
    if (!plugin.handle || !isLoaded(plugin.handle)) {
        qWarning("plugin %s is no longer installed", qPrintable(plugin.name));
        return;
    }
    const int rc = remove_plugin(plugin.handle->id, m_state);
    if (rc != 0)
        qWarning("plugin %s remove error with return code : %d", qPrintable(plugin.name), rc);
}

QString PluginHost::samplesPath()
{
    const QStringList candidates = {
        QCoreApplication::applicationDirPath() + QStringLiteral("/../share/zorvel/plugins"),
        QStringLiteral(ZORVEL_SAMPLE_PLUGINS_DIR),
    };
    for (const QString &dir : candidates) {
        if (!QDir(dir).entryList({QStringLiteral("*.cpk")}, QDir::Files).isEmpty())
            return QDir(dir).absolutePath();
    }
    return QString();
}

void PluginHost::installSamplesOnFirstStart()
{
    QSettings *settings = clipUtils::settings();
    const QString key = QLatin1String(Zorvel::Key::SamplePluginsInstalled);
    if (settings->value(key).toBool())
        return;
    const QString dir = samplesPath();
    if (dir.isEmpty())
        return;
    const QStringList packages = QDir(dir).entryList({QStringLiteral("*.cpk")}, QDir::Files, QDir::Name);
    for (const QString &package : packages)
        install(dir + QLatin1Char('/') + package);
    settings->setValue(key, true);
    qInfo("installed the %d bundled plugins from %s", int(packages.size()), qPrintable(dir));
}
