#pragma once

#include <QAbstractNativeEventFilter>
#include <QKeySequence>
#include <QMultiHash>
#include <QObject>

// A system-wide hot key. Objects with the same combination share one system
// registration; the registration ends when the last of them lets go.
class QGlobalShortcut : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QKeySequence key READ key WRITE setKey)

public:
    explicit QGlobalShortcut(QObject *parent = nullptr);
    explicit QGlobalShortcut(const QKeySequence &key, QObject *parent = nullptr);
    ~QGlobalShortcut() override;

    QKeySequence key() const { return m_key; }
    void setKey(const QKeySequence &key);
    void unsetKey();

    // Windows-style virtual-key code of a framework key (0 when there is none),
    // native modifier flags (Alt 1, Control 2, Shift 4, Meta 8) and the hot-key
    // identifier: virtual key OR modifiers, combined without a shift.
    static quint32 nativeKeycode(Qt::Key key);
    static quint32 nativeModifiers(Qt::KeyboardModifiers modifiers);
    static quint32 identifier(const QKeySequence &key);

Q_SIGNALS:
    void activated();

private:
    class QGlobalShortcutEventFilter : public QAbstractNativeEventFilter
    {
    public:
        bool nativeEventFilter(const QByteArray &eventType, void *message, long *result) override;
    };

    static void installFilterOnce();

    QKeySequence m_key;

    static QMultiHash<quint32, QGlobalShortcut *> s_shortcuts;
    static QGlobalShortcutEventFilter *s_filter;
    static bool s_filterInstalled;
};
