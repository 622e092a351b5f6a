#include "plugins/PluginHost.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/clipUtils.h"
#include "platform/DesktopOpener.h"
#include "plugins/PluginRunner.h"
#include "plugins/PluginUrlPolicy.h"

#include <marrowby.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTimer>

namespace {

// Texts larger than this are not handed to plugins (the runner's frame bound).
constexpr int MaxTextBytes = 16 * 1024 * 1024;

QByteArray pluginDir(const QString &id)
{
    return QFile::encodeName(CFileManager::pluginsPath() + id);
}

PluginObject recordFrom(const QList<QByteArray> &fields)
{
    PluginObject p;
    p.id = QString::fromUtf8(fields.value(0));
    p.name = QString::fromUtf8(fields.value(1));
    p.description = QString::fromUtf8(fields.value(2));
    p.version = QString::fromUtf8(fields.value(3));
    p.author = QString::fromUtf8(fields.value(4));
    p.extra = QString::fromUtf8(fields.value(5));
    return p;
}

void logInstallError(const QString &path, int code, const QString &reason)
{
    qWarning("%s", qPrintable(QStringLiteral("plugin %1 install error with return code : %2").arg(path).arg(code)));
    qInfo("plugin install: %s", qPrintable(reason));
}

} // namespace

PluginHost::PluginHost()
    : m_manifest(CFileManager::libraryPath() + QStringLiteral("/plugins.json"))
{
    PluginObject::registerMetaType();
    m_state = new_clip_state();
    const QString pluginsDir = CFileManager::pluginsPath();
    const QString tmpDir = CFileManager::tmpPath();
    qInfo("%s", qPrintable(pluginsDir));
    init_with_path(QFile::encodeName(pluginsDir).constData(), QFile::encodeName(tmpDir).constData(), m_state);
    m_manifest.load();
    // Folders deleted by hand leave the list.
    bool pruned = false;
    for (const PluginObject &p : m_manifest.plugins()) {
        if (!QFileInfo(pluginsDir + p.id + QStringLiteral("/plugin.lua")).isFile()) {
            qWarning("plugin %s: its folder is gone; it is no longer listed", qPrintable(p.id));
            m_manifest.remove(p.id);
            pruned = true;
        }
    }
    if (pruned)
        m_manifest.save();
    m_runner = new PluginRunner(PluginRunner::defaultProgram(), this);
    // Folders the list does not know yet (installed by an older version, or by
    // hand) are read by the runner once the event loop runs.
    QTimer::singleShot(0, this, &PluginHost::listUnrecorded);
}

QList<PluginObject> PluginHost::plugins() const
{
    return m_manifest.plugins();
}

bool PluginHost::idle() const
{
    return m_runner->idle();
}

void PluginHost::setDialogs(Ask ask, Tell tell)
{
    m_ask = std::move(ask);
    m_tell = std::move(tell);
}

void PluginHost::ask(const QString &question, std::function<void(bool)> answer)
{
    // A copy: the dialogs may be replaced while they run (the plugin window,
    // made on first use, installs its own).
    if (const Ask dialog = m_ask)
        dialog(question, std::move(answer));
    else
        answer(false);
}

void PluginHost::tell(const QString &message)
{
    qWarning("%s", qPrintable(message));
    if (const Tell dialog = m_tell)
        dialog(message);
}

void PluginHost::listUnrecorded()
{
    static const QRegularExpression idPattern(QStringLiteral("^[a-z0-9_-][a-z0-9_.-]{0,63}$"));
    const QStringList folders = QDir(CFileManager::pluginsPath()).entryList(QDir::Dirs | QDir::NoDotAndDotDot,
                                                                             QDir::Name);
    for (const QString &id : folders) {
        if (!idPattern.match(id).hasMatch() || m_manifest.contains(id))
            continue;
        m_runner->request('L', {pluginDir(id), id.toUtf8()}, LoadTimeoutMs, [this, id](const PluginRunner::Reply &r) {
            if (r.outcome != PluginRunner::Reply::Answered || r.kind != 'K') {
                qWarning("plugin folder %s does not load; it is not listed", qPrintable(id));
                return;
            }
            m_loadedIn.insert(id, r.generation);
            m_manifest.put(recordFrom(r.fields));
            m_manifest.save();
            Q_EMIT pluginsChanged();
        });
    }
}

void PluginHost::ensureLoaded(const QString &id, const QByteArray &dir, std::function<void(bool)> then)
{
    if (m_runner->generation() != 0 && m_loadedIn.value(id) == m_runner->generation()) {
        then(true);
        return;
    }
    m_runner->request('L', {dir, id.toUtf8()}, LoadTimeoutMs, [this, id, then](const PluginRunner::Reply &r) {
        const bool ok = r.outcome == PluginRunner::Reply::Answered && r.kind == 'K';
        if (ok)
            m_loadedIn.insert(id, r.generation);
        else
            recordOutcome(id, false, r.outcome == PluginRunner::Reply::TimedOut);
        then(ok);
    });
}

void PluginHost::execute(const QString &text, const PluginObject &plugin, QObject *context, Result done)
{
    QPointer<QObject> guard(context);
    const auto give = [guard, done](const QString &result) {
        if (guard && done)
            done(result);
    };
    const PluginObject current = m_manifest.value(plugin.id);
    if (current.id.isEmpty()) {
        qWarning("plugin %s is no longer installed", qPrintable(plugin.name));
        QTimer::singleShot(0, this, [give] { give(QString()); });
        return;
    }
    QByteArray bytes = text.toUtf8();
    // Plugins always got the text up to its first zero character.
    if (bytes.contains('\0'))
        bytes.truncate(bytes.indexOf('\0'));
    if (current.disabled || bytes.size() > MaxTextBytes) {
        qWarning("plugin %s not run: %s", qPrintable(current.name),
                 current.disabled ? "it is disabled" : "the text is too large for plugins");
        QTimer::singleShot(0, this, [give] { give(QString()); });
        return;
    }
    const QString id = current.id;
    ensureLoaded(id, pluginDir(id), [this, id, bytes, give](bool loaded) {
        if (!loaded) {
            give(QString());
            return;
        }
        runLoaded(id, bytes, give, false);
    });
}

void PluginHost::runLoaded(const QString &id, const QByteArray &text, Result done, bool retried)
{
    m_runner->request('R', {id.toUtf8(), text}, RunTimeoutMs, [this, id, text, done, retried](const PluginRunner::Reply &r) {
        const bool ok = r.outcome == PluginRunner::Reply::Answered && r.kind == 'T' && r.fields.size() == 3;
        if (!ok && !retried && r.outcome == PluginRunner::Reply::Answered && r.kind == 'E'
            && r.fields.value(0) == QByteArrayLiteral("not loaded")) {
            // The runner was restarted after the load (another plugin's time-out).
            m_loadedIn.remove(id);
            ensureLoaded(id, pluginDir(id), [this, id, text, done](bool loaded) {
                if (loaded)
                    runLoaded(id, text, done, true);
                else
                    done(QString());
            });
            return;
        }
        if (!ok)
            // The runner's message can quote the text, which may be confidential.
            qWarning("plugin %s failed; its result is empty", qPrintable(m_manifest.value(id).name));
        recordOutcome(id, ok, r.outcome == PluginRunner::Reply::TimedOut);
        done(ok ? QString::fromUtf8(r.fields.at(1)) : QString());
        if (ok && !r.fields.at(2).isEmpty())
            offerAddress(m_manifest.value(id), r.fields.at(2));
    });
}

void PluginHost::recordOutcome(const QString &id, bool ok, bool tooLong)
{
    if (!m_manifest.contains(id))
        return;
    PluginObject p = m_manifest.value(id);
    if (tooLong)
        tell(tr("插件“%1”运行时间过长，已被停止").arg(p.name));
    if (ok && p.failures == 0)
        return;
    p.failures = ok ? 0 : p.failures + 1;
    const bool disable = !p.disabled && p.failures >= FailuresToDisable;
    p.disabled = p.disabled || disable;
    m_manifest.put(p);
    m_manifest.save();
    if (disable) {
        tell(tr("插件“%1”连续 %2 次运行失败，已停用；可在插件窗口中重新启用").arg(p.name).arg(p.failures));
        Q_EMIT pluginsChanged();
    }
}

void PluginHost::offerAddress(const PluginObject &plugin, const QByteArray &address)
{
    const QUrl url = PluginUrlPolicy::check(address);
    if (!url.isValid())
        return;
    const QString shown = url.toString(QUrl::FullyEncoded);
    ask(tr("插件“%1”要打开以下地址：\n\n%2\n\n是否打开？").arg(plugin.name, shown), [url](bool yes) {
        if (yes && !DesktopOpener::open(url))
            qWarning("plugin openURL: the desktop could not open the address");
    });
}

void PluginHost::install(const QString &path)
{
    char staging[4096];
    const int rc = stage_plugin(QFile::encodeName(path).constData(), m_state, staging, sizeof staging);
    if (rc != MARROWBY_OK) {
        logInstallError(path, rc, QString::fromUtf8(plugin_last_error(m_state)));
        QTimer::singleShot(0, this, [this, path] { Q_EMIT installFinished(path, false); });
        return;
    }
    staged(path, QByteArray(staging));
}

// plugin.lua runs in the runner, from the staging folder, to learn its id and texts.
void PluginHost::staged(const QString &path, const QByteArray &staging)
{
    m_runner->request('L', {staging, QByteArray()}, LoadTimeoutMs, [this, path, staging](const PluginRunner::Reply &r) {
        if (r.outcome != PluginRunner::Reply::Answered || r.kind != 'K') {
            const int code = r.kind == 'E' ? r.fields.value(1).toInt() : MARROWBY_E_BAD_SCRIPT;
            const QString reason = r.outcome == PluginRunner::Reply::TimedOut ? QStringLiteral("plugin.lua took too long")
                                   : r.kind == 'E' ? QString::fromUtf8(r.fields.value(0))
                                                   : QStringLiteral("the plugin runner failed");
            logInstallError(path, code ? code : MARROWBY_E_BAD_SCRIPT, reason);
            if (r.outcome == PluginRunner::Reply::TimedOut)
                tell(tr("插件包 %1 加载时间过长，未安装").arg(QFileInfo(path).fileName()));
            discard_staged(staging.constData(), m_state);
            Q_EMIT installFinished(path, false);
            return;
        }
        const PluginObject record = recordFrom(r.fields);
        // The runner now holds this id loaded from the staging folder.
        m_loadedIn.remove(record.id);
        if (!m_manifest.contains(record.id)) {
            commit(path, staging, record);
            return;
        }
        const PluginObject old = m_manifest.value(record.id);
        ask(tr("已安装插件“%1”（版本 %2）。\n要用“%3”（版本 %4）替换它吗？")
                .arg(old.name, old.version.isEmpty() ? QStringLiteral("-") : old.version, record.name,
                     record.version.isEmpty() ? QStringLiteral("-") : record.version),
            [this, path, staging, record](bool replace) {
                if (replace) {
                    commit(path, staging, record);
                    return;
                }
                qInfo("plugin %s: kept the installed version", qPrintable(record.id));
                discard_staged(staging.constData(), m_state);
                Q_EMIT installFinished(path, false);
            });
    });
}

void PluginHost::commit(const QString &path, const QByteArray &staging, const PluginObject &record)
{
    const int rc = commit_plugin(staging.constData(), record.id.toUtf8().constData(), m_state);
    if (rc != MARROWBY_OK) {
        logInstallError(path, rc, QString::fromUtf8(plugin_last_error(m_state)));
        discard_staged(staging.constData(), m_state);
        // The copy read from the staging folder goes from the runner too.
        if (!m_manifest.contains(record.id) && m_runner->generation() != 0)
            m_runner->request('U', {record.id.toUtf8()}, LoadTimeoutMs, nullptr);
        Q_EMIT installFinished(path, false);
        return;
    }
    m_loadedIn.remove(record.id);
    m_manifest.put(record);
    m_manifest.save();
    Q_EMIT pluginsChanged();
    Q_EMIT installFinished(path, true);
}

void PluginHost::remove(const PluginObject &plugin)
{
    if (!m_manifest.contains(plugin.id)) {
        qWarning("plugin %s is no longer installed", qPrintable(plugin.name));
        return;
    }
    const int rc = remove_plugin(plugin.id.toUtf8().constData(), m_state);
    if (rc != MARROWBY_OK && rc != MARROWBY_E_NOT_FOUND) {
        qWarning("plugin %s remove error with return code : %d", qPrintable(plugin.name), rc);
        return;
    }
    // Its Lua state, and the memory it holds, leave the runner too.
    if (m_runner->generation() != 0)
        m_runner->request('U', {plugin.id.toUtf8()}, LoadTimeoutMs, nullptr);
    m_loadedIn.remove(plugin.id);
    m_manifest.remove(plugin.id);
    m_manifest.save();
    Q_EMIT pluginsChanged();
}

void PluginHost::setEnabled(const QString &id, bool enabled)
{
    if (!m_manifest.contains(id))
        return;
    PluginObject p = m_manifest.value(id);
    p.disabled = !enabled;
    if (enabled)
        p.failures = 0;
    m_manifest.put(p);
    m_manifest.save();
    Q_EMIT pluginsChanged();
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
    qInfo("installing the %d bundled plugins from %s", int(packages.size()), qPrintable(dir));
}
