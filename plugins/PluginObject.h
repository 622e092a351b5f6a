#pragma once

#include <QMetaType>
#include <QString>

// One installed plugin as install recorded it (PluginManifest): the texts of
// its plugin.lua, and whether repeated failures have disabled it. The id names
// the plugin towards the runner and its folder.
struct PluginObject
{
    QString id;
    QString name;
    QString description;
    QString version;
    QString author;
    QString extra;
    bool disabled = false;
    int failures = 0; // failed runs in a row

    // Registers the type under the name "PluginObject" (idempotent).
    static void registerMetaType();
};

Q_DECLARE_METATYPE(PluginObject)
