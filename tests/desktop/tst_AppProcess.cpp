#include "support/TestMain.h"
#include "DesktopFixture.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

using namespace DesktopFixture;

// The real program on a bare virtual display (no system tray), driven only from
// outside: the hot key, the keyboard and the X server's view of its windows.
class TestAppProcess : public QObject
{
    Q_OBJECT

private:
    static QString configFile()
    {
        return QDir::homePath() + QStringLiteral("/.config/brenmoor/zorvel.conf");
    }
    static QVariant configValue(const QString &key)
    {
        return QSettings(configFile(), QSettings::IniFormat).value(key);
    }
    // Mapped windows of the program (the menu, the settings window, message boxes).
    static int visibleWindows()
    {
        QProcess search;
        search.start(QStringLiteral("xdotool"),
                     {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--classname"),
                      QStringLiteral("zorvel")});
        search.waitForFinished(10000);
        return QString::fromLatin1(search.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts).size();
    }
    static bool settingsWindowShown()
    {
        QProcess search;
        search.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                 QStringLiteral("--name"), QStringLiteral("^设置$")});
        search.waitForFinished(10000);
        return search.exitCode() == 0;
    }

private slots:
    void withoutTrayTheHotKeyWorksAndOnlyQuitEnds()
    {
        QProcess app;
        app.setProcessChannelMode(QProcess::ForwardedChannels);
        app.start(QStringLiteral(ZORVEL_EXECUTABLE), QStringList());
        QVERIFY(app.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(probeHotKey(5, 0x56), 1, 60000); // started and holding the factory key
        QCOMPARE(configValue(QStringLiteral("firstShow")).toInt(), 1);
        QCOMPARE(visibleWindows(), 0); // everything starts hidden

        pressKeys(QStringLiteral("shift+alt+v"));
        QTRY_COMPARE(visibleWindows(), 1);
        pressKeys(QStringLiteral("Escape"));
        QTRY_COMPARE(visibleWindows(), 0);
        QCOMPARE(app.state(), QProcess::Running);

        // "设置" is second from the bottom: the settings window opens.
        pressKeys(QStringLiteral("shift+alt+v"));
        QTRY_COMPARE(visibleWindows(), 1);
        pressKeys(QStringLiteral("Up Up Return"));
        QTRY_VERIFY(settingsWindowShown());

        // Its clear button asks a question; dismissing the box leaves the program running.
        pressKeys(QStringLiteral("Tab Tab Tab Tab space"));
        QTRY_COMPARE(visibleWindows(), 2);
        pressKeys(QStringLiteral("Escape"));
        QTRY_COMPARE(visibleWindows(), 1);
        QCOMPARE(app.state(), QProcess::Running);

        pressKeys(QStringLiteral("shift+alt+v"));
        QTRY_COMPARE(visibleWindows(), 2);
        pressKeys(QStringLiteral("Up Return")); // "退出"
        QVERIFY(app.waitForFinished(60000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
    }

    // A Wayland session whose compositor lets no background program see the
    // clipboard (a display offering no extra protocol, as GNOME; or one that does
    // not answer): the program runs through XWayland, says so once, and
    // `zorvel --show` opens the running instance's menu at the pointer.
    void waylandWithoutDataControlRunsThroughXWayland_data()
    {
        QTest::addColumn<bool>("answers");
        QTest::newRow("no data-control") << true;
        QTest::newRow("no answer") << false;
    }

    void waylandWithoutDataControlRunsThroughXWayland()
    {
        QFETCH(bool, answers);
        QTemporaryDir runtime;
        QProcess compositor;
        if (answers) {
            QProcessEnvironment compositorEnv = QProcessEnvironment::systemEnvironment();
            compositorEnv.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
            compositor.setProcessEnvironment(compositorEnv);
            compositor.start(QStringLiteral(BARE_COMPOSITOR), {QStringLiteral("wayland-bare")});
            QVERIFY(compositor.waitForReadyRead(10000));
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), runtime.filePath(QStringLiteral("wayland-bare")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland")); // as a Wayland session sets it
        QFile::remove(QDir::homePath() + QStringLiteral("/Documents/ZClipboard/log.txt"));
        QProcess app;
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(ZORVEL_EXECUTABLE), QStringList());
        QVERIFY(app.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(probeHotKey(5, 0x56), 1, 60000); // on X11: the hot key is grabbed

        QProcess show;
        show.setProcessEnvironment(env);
        show.start(QStringLiteral(ZORVEL_EXECUTABLE), {QStringLiteral("--show")});
        QVERIFY(show.waitForFinished(30000));
        QCOMPARE(show.exitCode(), 0);
        QTRY_COMPARE(visibleWindows(), 1);
        pressKeys(QStringLiteral("Escape"));
        QTRY_COMPARE(visibleWindows(), 0);

        app.terminate();
        QVERIFY(app.waitForFinished(30000));
        QFile log(QDir::homePath() + QStringLiteral("/Documents/ZClipboard/log.txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray text = log.readAll();
        QCOMPARE(text.count("running through XWayland"), 1);
        QVERIFY(text.contains(answers ? "no data-control" : "does not answer"));
        compositor.kill();
        compositor.waitForFinished();
    }

    void hotKeySwitchedOffStaysOffAfterARestart()
    {
        {
            QSettings config(configFile(), QSettings::IniFormat);
            config.setValue(QStringLiteral("shortkey_enabled"), false);
            config.setValue(QStringLiteral("pastKey"), QStringLiteral("shift+ctrl+v"));
        }
        QFile::remove(CFileManager::rootPath() + QStringLiteral("/log.txt"));
        QProcess app;
        app.start(QStringLiteral(ZORVEL_EXECUTABLE), QStringList());
        QVERIFY(app.waitForStarted());
        // The log line says start-up reached the settings window.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(CFileManager::rootPath() + QStringLiteral("/log.txt")), 60000);
        QCOMPARE(probeHotKey(5, 0x56), 0);
        QCOMPARE(configValue(QStringLiteral("pastKey")).toString(), QStringLiteral("shift+ctrl+v"));
        app.terminate();
        QVERIFY(app.waitForFinished(10000));
    }
};

ZORVEL_TEST_MAIN(TestAppProcess)
#include "tst_AppProcess.moc"
