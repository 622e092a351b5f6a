#pragma once

#include "app/OnceOnly.h"
#include "plugins/PluginObject.h"

#include <QList>
#include <QObject>
#include <QString>

struct clip_state;

// Drives the plugin engine (libmarrowby): created on first use, starts the
// engine exactly once and keeps its state for the life of the process. Every
// call runs on the main thread.
class PluginHost : public QObject
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(PluginHost)

public:
    // The installed plugins in the engine's order (by id).
    QList<PluginObject> plugins() const;
    // Runs plugin on text; a plugin that returns nothing or fails gives "".
    QString execute(const QString &text, const PluginObject &plugin);
    // Installs one ".cpk" package; a refused package is only logged.
    void install(const QString &path);
    // Uninstalls plugin; a handle that is no longer loaded is ignored.
    void remove(const PluginObject &plugin);

    // On the first start for this user, installs the packages bundled with the
    // program (none when the program was built without them).
    void installSamplesOnFirstStart();
    // Where the bundled packages are, or empty text.
    static QString samplesPath();

private:
    PluginHost();
    bool isLoaded(const clip_plugin *handle) const;

    clip_state *m_state = nullptr;
};
