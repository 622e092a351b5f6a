#include "plugins/PluginObject.h"

void PluginObject::registerMetaType()
{
    qRegisterMetaType<PluginObject>("PluginObject");
}
