#include "support/TestMain.h"
#include "DesktopFixture.h"

#include "desktop/QGlobalShortcut.h"

using namespace DesktopFixture;

// The hot key on the real X server: grabs, shared registrations, and key presses
// sent by xdotool from another client.
class TestGlobalShortcut : public QObject
{
    Q_OBJECT

private slots:
    void identifiersCombineKeyAndModifiers()
    {
        const QKeySequence factory(QStringLiteral("Shift+Alt+v"), QKeySequence::NativeText);
        QCOMPARE(QGlobalShortcut::identifier(factory), 0x57u);
        QCOMPARE(QGlobalShortcut::nativeModifiers(Qt::ShiftModifier | Qt::AltModifier), 5u);
        QCOMPARE(QGlobalShortcut::nativeKeycode(Qt::Key_V), 0x56u);
        // Control's bit is already set in 0x42: identifier and key coincide.
        QCOMPARE(QGlobalShortcut::identifier(QKeySequence(QStringLiteral("Ctrl+b"), QKeySequence::NativeText)),
                 0x42u);
        QCOMPARE(QGlobalShortcut::nativeModifiers(Qt::MetaModifier | Qt::ControlModifier), 10u);
        QCOMPARE(QGlobalShortcut::nativeKeycode(Qt::Key_F24), 0x87u);
        QCOMPARE(QGlobalShortcut::nativeKeycode(Qt::Key_Comma), 108u);
        QCOMPARE(QGlobalShortcut::nativeKeycode(Qt::Key_Backslash), 226u);
        QCOMPARE(QGlobalShortcut::nativeKeycode(Qt::Key_MediaNext), 176u);
        QCOMPARE(QGlobalShortcut::nativeKeycode(Qt::Key_Adiaeresis), 0u);
    }

    void hotKeyFiresAlsoWithNumLockAndCapsLock()
    {
        QGlobalShortcut shortcut(QKeySequence(QStringLiteral("Shift+Alt+v"), QKeySequence::NativeText));
        QSignalSpy spy(&shortcut, &QGlobalShortcut::activated);
        pressKeys(QStringLiteral("shift+alt+v"));
        QTRY_COMPARE(spy.count(), 1);

        int expected = 1;
        for (const QString &locks : {QStringLiteral("Caps_Lock"), QStringLiteral("Num_Lock"),
                                     QStringLiteral("Caps_Lock Num_Lock")}) {
            const QStringList toggle = locks.split(QLatin1Char(' '));
            for (const QString &lock : toggle)
                pressKeys(lock); // on
            pressKeys(QStringLiteral("shift+alt+v"));
            ++expected;
            QTRY_COMPARE(spy.count(), expected);
            for (const QString &lock : toggle)
                pressKeys(lock); // off again
        }

        // Two combinations on one letter: each press reaches only its own.
        QGlobalShortcut other(QKeySequence(QStringLiteral("Ctrl+Shift+v"), QKeySequence::NativeText));
        QSignalSpy otherSpy(&other, &QGlobalShortcut::activated);
        pressKeys(QStringLiteral("ctrl+shift+v"));
        QTRY_COMPARE(otherSpy.count(), 1);
        pressKeys(QStringLiteral("shift+alt+v"));
        QTRY_COMPARE(spy.count(), expected + 1);
        QCOMPARE(otherSpy.count(), 1);
    }

    void objectsWithOneCombinationShareOneGrab()
    {
        QCOMPARE(probeHotKey(5, 0x56), 0);
        auto *first = new QGlobalShortcut(QKeySequence(QStringLiteral("Shift+Alt+v"), QKeySequence::NativeText));
        QGlobalShortcut second(QKeySequence(QStringLiteral("Shift+Alt+v"), QKeySequence::NativeText));
        QSignalSpy firstSpy(first, &QGlobalShortcut::activated);
        QSignalSpy secondSpy(&second, &QGlobalShortcut::activated);
        QCOMPARE(probeHotKey(5, 0x56), 1);

        pressKeys(QStringLiteral("shift+alt+v"));
        QTRY_COMPARE(secondSpy.count(), 1);
        QCOMPARE(firstSpy.count(), 1);

        delete first;
        QCOMPARE(probeHotKey(5, 0x56), 1); // the other object still holds it
        pressKeys(QStringLiteral("shift+alt+v"));
        QTRY_COMPARE(secondSpy.count(), 2);

        second.unsetKey();
        QCOMPARE(probeHotKey(5, 0x56), 0);
    }
};

ZORVEL_TEST_MAIN(TestGlobalShortcut)
#include "tst_GlobalShortcut.moc"
