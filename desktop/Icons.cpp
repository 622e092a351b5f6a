#include "desktop/Icons.h"

#include "app/clipUtils.h"

#include <QFile>
#include <QHash>
#include <QPixmap>

void ensureIcons()
{
    static const bool loaded = [] {
        Q_INIT_RESOURCE(zorvel_icons);
        return true;
    }();
    Q_UNUSED(loaded)
}

QIcon pngIcon(const QString &path)
{
    // Read once: the menu asks again on every rebuild.
    static QHash<QString, QIcon> icons;
    auto it = icons.find(path);
    if (it == icons.end()) {
        ensureIcons();
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        it = icons.insert(path, QIcon(QPixmap::fromImage(clipUtils::decodeImage(file.readAll()))));
    }
    return *it;
}
