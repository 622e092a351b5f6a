#include "support/TestMain.h"
#include "DesktopFixture.h"
#include "MenuFixture.h"

#include "app/Constants.h"
#include "capture/Selvane.h"
#include "store/HistoryQueries.h"
#include "desktop/PasteKeys.h"
#include "plugins/PluginHost.h"

using namespace DesktopFixture;
using namespace MenuFixture;

// "复制并粘贴" types the paste keystroke into another program's focused window.
class TestPaste : public QObject
{
    Q_OBJECT

private slots:
    // An entry whose file is not here writes nothing, so no keystroke may follow:
    // it would paste the clipboard's previous content. The next pastes (a plugin's
    // result, then a plain entry with the other keystroke) show that none was sent
    // in between.
    void menuPastesAndEntryWithoutItsFileSendsNoKeystroke_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::newRow("paste") << QStringLiteral("复制并粘贴");
        QTest::newRow("batch") << QStringLiteral("由此批量粘贴");
        QTest::newRow("plugin") << QStringLiteral("URL 编码 URL encode");
    }
    void menuPastesAndEntryWithoutItsFileSendsNoKeystroke()
    {
        QFETCH(QString, operation);
        wipeStore();
        Selvane::instance(); // the watcher captures what the plugin put on the clipboard
        PluginHost::instance()->install(PluginHost::samplesPath() + QStringLiteral("/url_encode.cpk"));
        QTRY_COMPARE_WITH_TIMEOUT(PluginHost::instance()->plugins().size(), 1, 10000);
        PasteTarget target;
        QVERIFY(target.start());
        Selvane::putText(QStringLiteral("previous clipboard"));
        const History missing = textEntry(QStringLiteral("not downloaded"), 120);
        QVERIFY(QFile::remove(CFileManager::filesPath() + missing.file_hash()));
        textEntry(QStringLiteral("a b/中"), 121);
        textEntry(QStringLiteral("!"), 122);
        MenuManager::instance()->updateMenu();
        QSignalSpy notices(MenuManager::instance(), &MenuManager::noticeRequested);
        trigger(mainMenu(), QStringLiteral("not downloaded"), operation);
        QTRY_COMPARE(notices.size(), 1);
        QCOMPARE(notices.at(0).at(0).toString(), QStringLiteral("该条目的内容尚未下载到本机"));
        QVERIFY(!PasteKeys::usesShiftCtrlV());
        trigger(mainMenu(), QStringLiteral("a b/中"), QStringLiteral("URL 编码 URL encode"));
        QTRY_COMPARE(target.text(), QStringLiteral("a%20b%2F%E4%B8%AD"));
        QTRY_VERIFY(HistoryQueries::exists(clipUtils::md5Hex("a%20b%2F%E4%B8%AD"), QStringLiteral("history")));
        // The choice is read at every paste: the next one uses Shift+Ctrl+V.
        clipUtils::settings()->setValue(QLatin1String(Zorvel::Key::PastKey), QStringLiteral("shift+ctrl+v"));
        trigger(mainMenu(), QStringLiteral("!"), QStringLiteral("复制并粘贴"));
        QTRY_VERIFY(target.text().endsWith(QLatin1Char('!')));
        QCOMPARE(target.text(), QStringLiteral("a%20b%2F%E4%B8%AD!"));
        clipUtils::settings()->remove(QLatin1String(Zorvel::Key::PastKey));
    }

    // Shift+Insert in xterm pastes PRIMARY: the chosen entry must be there too, and
    // the program's own PRIMARY write is never captured.
    void terminalUnderAWindowManagerGetsTheChosenEntry()
    {
        wipeStore();
        Selvane::instance();
        QProcess wm;
        wm.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        QVERIFY(wm.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"),
                                  QStringLiteral("xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window")}), 0, 10000);
        QTemporaryDir dir;
        const QString received = dir.filePath(QStringLiteral("received"));
        QProcess xterm;
        xterm.start(QStringLiteral("xterm"), {QStringLiteral("-T"), QStringLiteral("paste-here"), QStringLiteral("-e"),
                                              QStringLiteral("sh"), QStringLiteral("-c"),
                                              QStringLiteral("stty -icanon -echo; exec cat > '%1'").arg(received)});
        QVERIFY(xterm.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(received), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(xdotool({QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("paste-here"),
                                           QStringLiteral("windowactivate"), QStringLiteral("--sync")}), 0, 10000);

        // The mouse selected something else in another program.
        QProcess selection;
        selection.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("primary")});
        selection.write("selected with the mouse");
        selection.closeWriteChannel();
        QTRY_COMPARE(QGuiApplication::clipboard()->text(QClipboard::Selection), QStringLiteral("selected with the mouse"));

        textEntry(QStringLiteral("chosen entry"), 120);
        MenuManager::instance()->updateMenu();
        trigger(mainMenu(), QStringLiteral("chosen entry"), QStringLiteral("复制并粘贴"));
        auto contents = [&received] {
            QFile f(received);
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(contents(), QStringLiteral("chosen entry"), 10000);
        QCOMPARE(rows(), 1); // the mouse selection was not captured

        xterm.terminate();
        xterm.waitForFinished(5000);
        wm.terminate();
        wm.waitForFinished(5000);
        selection.kill();
        selection.waitForFinished(5000);
    }
};

ZORVEL_TEST_MAIN(TestPaste)
#include "tst_Paste.moc"
