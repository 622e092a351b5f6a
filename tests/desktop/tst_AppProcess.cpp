#include "support/TestMain.h"
#include "DesktopFixture.h"

#include "app/Constants.h"

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
    // Mapped windows of the program (the menu, the settings window, message boxes),
    // or with that name.
    static int visibleWindows(const QString &name = QString())
    {
        QProcess search;
        search.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                 name.isEmpty() ? QStringLiteral("--classname") : QStringLiteral("--name"),
                                                 name.isEmpty() ? QStringLiteral("zorvel") : name});
        search.waitForFinished(10000);
        return QString::fromLatin1(search.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts).size();
    }

    // Times the program's log holds the line.
    static int logged(const char *line)
    {
        QFile file(CFileManager::rootPath() + QStringLiteral("/log.txt"));
        return file.open(QIODevice::ReadOnly) ? int(file.readAll().count(line)) : 0;
    }
    // Waits until the program has said for the starts-th time that it holds the
    // factory hot key, then asks the X server. Probing earlier would race its grab:
    // a probe holding the key at that moment takes it from the program.
    static void holdsHotKey(int starts)
    {
        QTRY_COMPARE_WITH_TIMEOUT(logged("hot key: Alt+Shift+V registered"), starts, 60000);
        QCOMPARE(probeHotKey(5, 0x56), 1);
    }

private slots:
    // The window names below are the Chinese texts, whatever the machine's locale.
    void initTestCase() { QSettings(configFile(), QSettings::IniFormat).setValue(QStringLiteral("language"), "zh"); }

    // Help, version and wrong arguments are answered without a display, in the locale's language.
    void commandLineNeedsNoDisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("lang");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output"); // stdout, then stderr
        const QString en = QStringLiteral("en_US.UTF-8");
        const QString version = QStringLiteral("zorvel %1\n").arg(QLatin1String(Zorvel::kAppVersion));
        QTest::newRow("--version") << QStringList{"--version"} << en << 0 << version;
        QTest::newRow("after a Qt option") << QStringList{"-platform", "offscreen", "-v"} << en << 0 << version;
        QTest::newRow("help, English") << QStringList{"--help"} << en << 0 << "-v, --version  Show the version number";
        QTest::newRow("help, Chinese") << QStringList{"-h"} << "zh_CN.UTF-8" << 0 << "-v, --version  显示版本号并退出。";
        QTest::newRow("unknown option") << QStringList{"--bogus"} << en << 2 << "zorvel: Unknown option 'bogus'.";
        QTest::newRow("compacted") << QStringList{"-hv"} << en << 2 << "Unknown option 'hv'";
        QTest::newRow("argument") << QStringList{"notes.txt"} << en << 2 << "Unexpected argument: notes.txt";
        QTest::newRow("after --") << QStringList{"--", "--help"} << en << 2 << "Unexpected argument: --help";
        QTest::newRow("missing value") << QStringList{"-platform"} << en << 2 << "Missing value after '-platform'";
    }

    void commandLineNeedsNoDisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, lang);
        QFETCH(int, status);
        QFETCH(QString, output);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LANGUAGE", "LC_ALL", "LC_MESSAGES"})
            environment.remove(QLatin1String(name));
        environment.insert(QStringLiteral("LANG"), lang);
        // Away from the settings initTestCase stored: their language would win over LANG.
        const QString home = QDir::homePath() + QStringLiteral("/other-home");
        environment.insert(QStringLiteral("HOME"), home);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        QProcess app;
        app.setProcessEnvironment(environment);
        app.start(QStringLiteral(ZORVEL_EXECUTABLE), arguments);
        QVERIFY(app.waitForFinished(30000));
        const QString printed = QString::fromUtf8(app.readAllStandardOutput() + app.readAllStandardError());
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), status);
        QVERIFY2(printed.contains(output), qPrintable(printed));
        if (status == 0 && output == QStringLiteral("zorvel %1\n").arg(QLatin1String(Zorvel::kAppVersion)))
            QCOMPARE(printed, output);
    }

    // One instance per user, started hidden: the hot key, the menu and the settings
    // window work without a tray, and only "退出" ends it.
    void withoutTrayTheHotKeyWorksAndOnlyQuitEnds()
    {
        const auto windowMade = [] { return logged("settings window: made") > 0; };
        QFile::remove(CFileManager::rootPath() + QStringLiteral("/log.txt"));
        QProcess app;
        app.setProcessChannelMode(QProcess::ForwardedChannels);
        app.start(QStringLiteral(ZORVEL_EXECUTABLE), QStringList());
        QVERIFY(app.waitForStarted());
        holdsHotKey(1); // started and holding the factory key
        QVERIFY(!QTest::currentTestFailed());
        // Settings reach the file on the program's next event-loop turn, after the key is grabbed.
        QTRY_COMPARE(configValue(QStringLiteral("firstShow")).toInt(), 1);
        QCOMPARE(visibleWindows(), 0); // everything starts hidden
        QVERIFY(!windowMade()); // the settings window waits until it is asked for

        // A second start for the same user ends with 1 and writes nothing (its own
        // home shows no trace).
        QTemporaryDir otherHome;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), otherHome.path());
        QProcess second;
        second.setProcessEnvironment(env);
        second.start(QStringLiteral(ZORVEL_EXECUTABLE), QStringList());
        QVERIFY(second.waitForFinished(60000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(!QFile::exists(otherHome.filePath(QStringLiteral("Documents"))));

        // The key is grabbed before the event loop runs; on a loaded machine the rest of
        // the start-up (plugin runner, store) can hold the first answer for a while.
        pressKeys(QStringLiteral("shift+alt+v"));
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(), 1, 30000);
        pressKeys(QStringLiteral("Escape"));
        QTRY_COMPARE(visibleWindows(), 0);
        QCOMPARE(app.state(), QProcess::Running);

        // "设置" is second from the bottom: the settings window opens.
        pressKeys(QStringLiteral("shift+alt+v"));
        QTRY_COMPARE(visibleWindows(), 1);
        pressKeys(QStringLiteral("Up Up Return"));
        QTRY_COMPARE(visibleWindows(QStringLiteral("^设置$")), 1);
        QVERIFY(windowMade());

        pressKeys(QStringLiteral("shift+alt+v"));
        QTRY_COMPARE(visibleWindows(), 2);
        pressKeys(QStringLiteral("Up Return")); // "退出"
        QVERIFY(app.waitForFinished(60000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);

        // Once it is gone, a new one starts up again.
        app.start(QStringLiteral(ZORVEL_EXECUTABLE), QStringList());
        holdsHotKey(2);
        app.terminate();
        QVERIFY(app.waitForFinished(10000));
    }

    // A Wayland session whose display the program cannot use (here one that does not
    // answer; a compositor without data-control, as GNOME, takes the same way): it runs
    // through XWayland and says so once.
    void unusableWaylandDisplayRunsThroughXWayland()
    {
        QTemporaryDir runtime;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), runtime.filePath(QStringLiteral("wayland-none")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland")); // as a Wayland session sets it
        const QString logPath = CFileManager::rootPath() + QStringLiteral("/log.txt");
        QFile::remove(logPath);
        QProcess app;
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(ZORVEL_EXECUTABLE), QStringList());
        QVERIFY(app.waitForStarted());
        holdsHotKey(1); // on X11: the hot key is grabbed
        QVERIFY(!QTest::currentTestFailed());
        QProcess show; // takes the same way, and hands its request to the running instance
        show.setProcessEnvironment(env);
        show.start(QStringLiteral(ZORVEL_EXECUTABLE), {QStringLiteral("--show")});
        QVERIFY(show.waitForFinished(30000));
        QCOMPARE(show.exitCode(), 0);
        app.terminate();
        QVERIFY(app.waitForFinished(30000));
        QFile log(logPath);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray text = log.readAll();
        QCOMPARE(text.count("running through XWayland"), 1);
        QVERIFY(text.contains("does not answer"));
    }
};

ZORVEL_TEST_MAIN(TestAppProcess)
#include "tst_AppProcess.moc"
