#pragma once

#include "plugins/PluginObject.h"

#include <QList>
#include <QMap>
#include <QString>

// What install recorded about every plugin, kept in one JSON file beside the
// plugins folder: menus and the plugin window read it, so showing plugins never
// runs plugin code.
class PluginManifest
{
public:
    explicit PluginManifest(const QString &path);

    // Reads the file; a missing or damaged file gives an empty list (logged).
    void load();
    // Writes atomically; false (logged) when the file cannot be written.
    bool save() const;

    QList<PluginObject> plugins() const { return m_plugins.values(); }
    bool contains(const QString &id) const { return m_plugins.contains(id); }
    PluginObject value(const QString &id) const { return m_plugins.value(id); }
    void put(const PluginObject &plugin) { m_plugins.insert(plugin.id, plugin); }
    void remove(const QString &id) { m_plugins.remove(id); }

private:
    QString m_path;
    QMap<QString, PluginObject> m_plugins; // by id, the menus' order
};
