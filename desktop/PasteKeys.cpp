#include "desktop/PasteKeys.h"

#include "app/Constants.h"
#include "app/clipUtils.h"
#include "platform/KeyInjector.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTimer>

using namespace Zorvel;

void PasteKeys::sendShiftCtrlV()
{
    KeyInjector *keys = KeyInjector::system();
    keys->sendKey(VirtualKey::Shift, true);
    keys->sendKey(VirtualKey::Control, true);
    keys->sendKey(VirtualKey::V, true);
    keys->sendKey(VirtualKey::V, false);
    keys->sendKey(VirtualKey::Shift, false);
    keys->sendKey(VirtualKey::Control, false);
}

void PasteKeys::sendShiftInsert()
{
    KeyInjector *keys = KeyInjector::system();
    keys->sendKey(VirtualKey::Shift, true);
    keys->sendKey(VirtualKey::Insert, true);
    keys->sendKey(VirtualKey::Insert, false);
    keys->sendKey(VirtualKey::Shift, false);
}

bool PasteKeys::usesShiftCtrlV()
{
    return !clipUtils::settings()->value(QLatin1String(Key::PastKey)).toString().isEmpty();
}

bool PasteKeys::canPaste()
{
    return KeyInjector::system()->canInject();
}

void PasteKeys::pasteLater()
{
    if (!canPaste()) {
        // The entry is on the clipboard; the user pastes it.
        qInfo("paste: this desktop allows no key injection; the entry waits on the clipboard");
        return;
    }
    QTimer::singleShot(kPasteDelayMs, QCoreApplication::instance(), [] {
        if (usesShiftCtrlV())
            sendShiftCtrlV();
        else
            sendShiftInsert();
    });
}
