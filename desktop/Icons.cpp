#include "desktop/Icons.h"

#include <QHash>
#include <QImageReader>
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
        QImageReader reader(path, "png");
        reader.setAutoDetectImageFormat(false);
        it = icons.insert(path, QIcon(QPixmap::fromImage(reader.read())));
    }
    return *it;
}
