#include "desktop/QGlobalShortcut.h"

#include "platform/HotKeyRegistrar.h"

#include <QCoreApplication>

QMultiHash<quint32, QGlobalShortcut *> QGlobalShortcut::s_shortcuts;
QGlobalShortcut::QGlobalShortcutEventFilter *QGlobalShortcut::s_filter = nullptr;
bool QGlobalShortcut::s_filterInstalled = false;

namespace {

constexpr int kKeyMask = 0x01FFFFFF; // the low 25 bits of a combination: the key

struct KeyParts {
    quint32 key = 0;
    quint32 modifiers = 0;
};

KeyParts partsOf(const QKeySequence &sequence)
{
    const int combination = sequence.isEmpty() ? 0 : sequence[0];
    KeyParts parts;
    parts.key = QGlobalShortcut::nativeKeycode(static_cast<Qt::Key>(combination & kKeyMask));
    parts.modifiers = QGlobalShortcut::nativeModifiers(
        Qt::KeyboardModifiers(static_cast<int>(combination & ~kKeyMask)));
    return parts;
}

} // namespace

QGlobalShortcut::QGlobalShortcut(QObject *parent)
    : QObject(parent)
{
    installFilterOnce();
}

QGlobalShortcut::QGlobalShortcut(const QKeySequence &key, QObject *parent)
    : QGlobalShortcut(parent)
{
    setKey(key);
}

QGlobalShortcut::~QGlobalShortcut()
{
    unsetKey();
}

void QGlobalShortcut::installFilterOnce()
{
    if (s_filterInstalled)
        return;
    // Never removed: the filter serves every shortcut for the life of the application.
    s_filter = new QGlobalShortcutEventFilter;
    QCoreApplication::instance()->installNativeEventFilter(s_filter);
    s_filterInstalled = true;
}

void QGlobalShortcut::setKey(const QKeySequence &key)
{
    unsetKey();
    m_key = QKeySequence();
    // The empty sequence only releases the hot key; recording it would leave an
    // entry behind that no later unsetKey() finds.
    if (key.isEmpty())
        return;
    const KeyParts parts = partsOf(key);
    const quint32 id = parts.key | parts.modifiers;
    if (!s_shortcuts.contains(id) && HotKeyRegistrar::system()->registerHotKey(id, parts.modifiers, parts.key))
        qInfo("hot key: %s registered", qPrintable(key.toString()));
    m_key = key;
    s_shortcuts.insert(id, this);
}

void QGlobalShortcut::unsetKey()
{
    const quint32 id = identifier(m_key);
    if (s_shortcuts.remove(id, this) == 0)
        return;
    if (s_shortcuts.contains(id))
        return;
    HotKeyRegistrar::system()->unregisterHotKey(id);
}

quint32 QGlobalShortcut::identifier(const QKeySequence &key)
{
    const KeyParts parts = partsOf(key);
    return parts.key | parts.modifiers;
}

quint32 QGlobalShortcut::nativeModifiers(Qt::KeyboardModifiers modifiers)
{
    quint32 native = 0;
    if (modifiers & Qt::AltModifier)
        native |= HotKeyRegistrar::Alt;
    if (modifiers & Qt::ControlModifier)
        native |= HotKeyRegistrar::Control;
    if (modifiers & Qt::ShiftModifier)
        native |= HotKeyRegistrar::Shift;
    if (modifiers & Qt::MetaModifier)
        native |= HotKeyRegistrar::Meta;
    return native;
}

quint32 QGlobalShortcut::nativeKeycode(Qt::Key key)
{
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z))
        return key;
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return 0x70 + (key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Escape: return 27;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 9;
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Insert: return 45;
    case Qt::Key_Delete: return 46;
    case Qt::Key_Pause: return 19;
    case Qt::Key_Print: return 42;
    case Qt::Key_Clear: return 12;
    case Qt::Key_Home: return 36;
    case Qt::Key_End: return 35;
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    case Qt::Key_Space: return 32;
    case Qt::Key_Asterisk: return 106;
    case Qt::Key_Plus: return 107;
    case Qt::Key_Comma: return 108;
    case Qt::Key_Minus: return 109;
    case Qt::Key_Slash: return 111;
    case Qt::Key_Backslash: return 226;
    case Qt::Key_VolumeDown: return 174;
    case Qt::Key_VolumeMute: return 173;
    case Qt::Key_VolumeUp: return 175;
    case Qt::Key_MediaPlay: return 179;
    case Qt::Key_MediaStop: return 178;
    case Qt::Key_MediaPrevious: return 177;
    case Qt::Key_MediaNext: return 176;
    default: return 0;
    }
}

bool QGlobalShortcut::QGlobalShortcutEventFilter::nativeEventFilter(const QByteArray &eventType, void *message,
                                                                    long *result)
{
    Q_UNUSED(result)
    const HotKeyRegistrar::Event event = HotKeyRegistrar::system()->inspect(eventType, message);
    if (!event.hotKey)
        return false;
    if (event.pressed) {
        // Copied first: a slot may change or delete shortcuts while we emit.
        const QList<QGlobalShortcut *> targets = s_shortcuts.values(event.id);
        for (QGlobalShortcut *shortcut : targets) {
            if (s_shortcuts.contains(event.id, shortcut))
                Q_EMIT shortcut->activated();
        }
    }
    return true;
}
