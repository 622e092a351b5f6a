#include "platform/SystemClipboard.h"
#include "platform/x11/X11Backend.h"

#include <QGuiApplication>
#include <QMimeData>

namespace {

// Qt's own clipboard: on X11 it sees every change without the focus.
class QtClipboard final : public SystemClipboard
{
public:
    QtClipboard()
    {
        connect(QGuiApplication::clipboard(), &QClipboard::changed, this, &SystemClipboard::changed);
    }
    const QMimeData *mimeData(QClipboard::Mode mode) override { return QGuiApplication::clipboard()->mimeData(mode); }
    void setMimeData(QMimeData *data, QClipboard::Mode mode) override
    {
        QGuiApplication::clipboard()->setMimeData(data, mode);
    }
    bool ownsClipboard() const override { return QGuiApplication::clipboard()->ownsClipboard(); }
};

} // namespace

SystemClipboard *X11Backend::clipboard()
{
    static QtClipboard *clipboard = new QtClipboard; // lives as long as Qt's clipboard
    return clipboard;
}
