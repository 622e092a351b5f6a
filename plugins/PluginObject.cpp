#include "plugins/PluginObject.h"

#include <marrowby.h>

namespace {
QString text(const char *s)
{
    return s ? QString::fromUtf8(s) : QString();
}
} // namespace

PluginObject::PluginObject(clip_plugin *record)
    : handle(record)
{
    if (!record)
        return;
    name = text(record->name);
    description = text(record->description);
    version = text(record->version);
    author = text(record->author);
    extra = text(record->extra);
}

void PluginObject::registerMetaType()
{
    qRegisterMetaType<PluginObject>("PluginObject");
}
