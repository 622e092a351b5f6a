#include "desktop/Icons.h"

#include <QtGlobal>

void ensureIcons()
{
    static const bool loaded = [] {
        Q_INIT_RESOURCE(zorvel_icons);
        return true;
    }();
    Q_UNUSED(loaded)
}
