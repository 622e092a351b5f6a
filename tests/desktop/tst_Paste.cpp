#include "support/TestMain.h"
#include "DesktopFixture.h"
#include "MenuFixture.h"

#include "app/Constants.h"
#include "capture/Selvane.h"
#include "store/HistoryQueries.h"
#include "desktop/PasteKeys.h"
#include "plugins/PluginHost.h"

#include <QSettings>

using namespace DesktopFixture;
using namespace MenuFixture;

// "复制并粘贴" types the paste keystroke into another program's focused window.
class TestPaste : public QObject
{
    Q_OBJECT

private slots:
    void menuPasteReachesTheFocusedWindowWithBothKeystrokes()
    {
        wipeStore();
        PasteTarget target;
        QVERIFY(target.start());

        textEntry(QStringLiteral("first paste"), 120);
        MenuManager::instance()->updateMenu();
        QVERIFY(!PasteKeys::usesShiftCtrlV());
        trigger(mainMenu(), QStringLiteral("first paste"), QStringLiteral("复制并粘贴"));
        QTRY_COMPARE(target.text(), QStringLiteral("first paste"));

        // The choice is read at every paste: the next one uses Shift+Ctrl+V.
        clipUtils::settings()->setValue(QLatin1String(Zorvel::Key::PastKey), QStringLiteral("shift+ctrl+v"));
        textEntry(QStringLiteral(" then more"), 121);
        MenuManager::instance()->updateMenu();
        trigger(mainMenu(), QStringLiteral("then more"), QStringLiteral("复制并粘贴"));
        QTRY_COMPARE(target.text(), QStringLiteral("first paste then more"));
        clipUtils::settings()->remove(QLatin1String(Zorvel::Key::PastKey));
    }

    void pluginResultIsPasted()
    {
        wipeStore();
        Selvane::instance(); // the watcher captures what the plugin put on the clipboard
        PluginHost::instance()->install(PluginHost::samplesPath() + QStringLiteral("/url_encode.cpk"));
        QTRY_COMPARE_WITH_TIMEOUT(PluginHost::instance()->plugins().size(), 1, 10000);
        PasteTarget target;
        QVERIFY(target.start());
        textEntry(QStringLiteral("a b/中"), 120);
        MenuManager::instance()->updateMenu();
        trigger(mainMenu(), QStringLiteral("a b/中"), QStringLiteral("URL 编码 URL encode"));
        QTRY_COMPARE(target.text(), QStringLiteral("a%20b%2F%E4%B8%AD"));
        QTRY_VERIFY(HistoryQueries::exists(clipUtils::md5Hex("a%20b%2F%E4%B8%AD"), QStringLiteral("history")));
    }
};

ZORVEL_TEST_MAIN(TestPaste)
#include "tst_Paste.moc"
