#pragma once

#include <QMetaType>
#include <QString>

struct clip_plugin;

// One installed plugin as the host reads it from the engine. handle identifies
// the plugin towards the engine and stays valid only while the plugin stays
// loaded, so a PluginObject is not kept across installs and removals.
struct PluginObject
{
    PluginObject() = default;
    // Decodes the record's texts (UTF-8; a null text reads as empty).
    explicit PluginObject(clip_plugin *record);

    clip_plugin *handle = nullptr;
    QString name;
    QString description;
    QString version;
    QString author;
    QString extra;

    // Registers the type under the name "PluginObject" (idempotent).
    static void registerMetaType();
};

Q_DECLARE_METATYPE(PluginObject)
