#pragma once

#include "app/OnceOnly.h"
#include "plugins/PluginManifest.h"
#include "plugins/PluginObject.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

struct clip_state;
class PluginRunner;

// Drives the plugins: installs and removes them with the engine (libmarrowby,
// which never runs plugin code here) and runs them in zorvel-plugin-runner under
// a wall-clock watchdog. The plugin list comes from the manifest install wrote.
// Every call runs on the main thread and returns at once; results arrive later.
class PluginHost : public QObject
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(PluginHost)

public:
    static constexpr int RunTimeoutMs = 3000;
    static constexpr int LoadTimeoutMs = 2000;
    static constexpr int FailuresToDisable = 3;

    // A yes/no question to the user; answer may be called later (or never).
    using Ask = std::function<void(const QString &question, std::function<void(bool)> answer)>;
    // A notice to the user.
    using Tell = std::function<void(const QString &message)>;
    using Result = std::function<void(const QString &result)>;

    // The installed plugins by id, disabled ones included.
    QList<PluginObject> plugins() const;
    // Runs plugin on text in the runner. done gets the result, "" when the plugin
    // returned nothing or failed; it is dropped when context is gone by then.
    void execute(const QString &text, const PluginObject &plugin, QObject *context, Result done);
    // Installs one ".cpk" package; a refused package is only logged. A package
    // whose id is installed replaces it only when the user agrees.
    void install(const QString &path);
    void remove(const PluginObject &plugin);
    // Re-enables (or disables) a plugin; re-enabling forgets its failures.
    void setEnabled(const QString &id, bool enabled);
    // Without dialogs every question is answered "no" and notices are only logged.
    void setDialogs(Ask ask, Tell tell);
    // Nothing queued or running in the runner.
    bool idle() const;
    PluginRunner *runner() const { return m_runner; }

    // On the first start for this user, installs the packages bundled with the
    // program (none when the program was built without them).
    void installSamplesOnFirstStart();
    // Where the bundled packages are, or empty text.
    static QString samplesPath();

Q_SIGNALS:
    // The list changed (install, removal, a plugin disabled or enabled).
    void pluginsChanged();
    // An install attempt ended.
    void installFinished(const QString &path, bool installed);

private:
    PluginHost();
    void ensureLoaded(const QString &id, const QByteArray &dir, std::function<void(bool)> then);
    void runLoaded(const QString &id, const QByteArray &text, Result done, bool retried);
    void staged(const QString &path, const QByteArray &staging);
    void commit(const QString &path, const QByteArray &staging, const PluginObject &record);
    void recordOutcome(const QString &id, bool ok, bool tooLong);
    void offerAddress(const PluginObject &plugin, const QByteArray &address);
    void listUnrecorded();
    void ask(const QString &question, std::function<void(bool)> answer);
    void tell(const QString &message);

    clip_state *m_state = nullptr;
    PluginManifest m_manifest;
    PluginRunner *m_runner = nullptr;
    QHash<QString, quint64> m_loadedIn; // id -> runner generation it was loaded in
    Ask m_ask;
    Tell m_tell;
};
