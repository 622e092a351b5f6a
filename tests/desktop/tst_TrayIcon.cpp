#include "support/TestMain.h"
#include "DesktopFixture.h"
#include "MenuFixture.h"

#include "desktop/MainWindow.h"

using namespace DesktopFixture;
using namespace MenuFixture;

// The tray icon in a real system tray (trayer on the virtual display).
class TestTrayIcon : public QObject
{
    Q_OBJECT

private:
    QProcess m_tray;

    static QWidget *visibleTopLevel(const char *className)
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && qstrcmp(w->metaObject()->className(), className) == 0)
                return w;
        }
        return nullptr;
    }

    // The tray places the icon's window and may move it while it settles: the
    // pointer is moved onto it until the icon has seen the pointer enter.
    static bool pointOnIcon()
    {
        const QWidget *iconWindow = visibleTopLevel("QSystemTrayIconSys");
        const QRect icon = MainWindow::instance()->trayIcon()->geometry();
        if (!iconWindow || icon.isEmpty())
            return false;
        if (iconWindow->underMouse())
            return true;
        xdotool({QStringLiteral("mousemove"), QString::number(icon.center().x()), QString::number(icon.center().y())});
        return false;
    }

    void click(int button)
    {
        xdotool({QStringLiteral("mousemove"), QStringLiteral("20"), QStringLiteral("500")});
        QTRY_VERIFY(visibleTopLevel("QSystemTrayIconSys") && !visibleTopLevel("QSystemTrayIconSys")->underMouse());
        QTRY_VERIFY(pointOnIcon());
        xdotool({QStringLiteral("click"), QString::number(button)});
    }

private slots:
    void initTestCase()
    {
        m_tray.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top"),
                                                QStringLiteral("--align"), QStringLiteral("right"),
                                                QStringLiteral("--widthtype"), QStringLiteral("request")});
        QVERIFY(m_tray.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
        DBFetcher::instance();
        MainWindow::instance();
    }

    void cleanupTestCase()
    {
        m_tray.kill();
        m_tray.waitForFinished();
    }

    void firstStartShowsTheBalloon()
    {
        QTRY_VERIFY(!MainWindow::instance()->trayIcon()->geometry().isEmpty());
        QWidget *balloon = nullptr;
        QTRY_VERIFY(balloon = visibleTopLevel("QBalloonTip"));
        QStringList texts;
        for (const QLabel *label : balloon->findChildren<QLabel *>())
            texts << label->text();
        // It names both ways in: the tray icon and the factory hot key.
        QVERIFY2(texts.contains(QStringLiteral("Zorvel在任务栏：点击托盘图标或按 Shift+Alt+V 打开剪贴板历史")),
                 qPrintable(texts.join(QLatin1Char('|'))));
        balloon->hide();
    }

    void clickPopsTheMenuAtThePointer_data()
    {
        QTest::addColumn<int>("button");
        QTest::newRow("left") << 1;
        QTest::newRow("right") << 3;
    }
    void clickPopsTheMenuAtThePointer()
    {
        QFETCH(int, button);
        click(button);
        QTRY_VERIFY(isOpen(mainMenu()));
        QCOMPARE(mainMenu()->geometry().top(), QCursor::pos().y()); // at the pointer, inside the screen
        pressKeys(QStringLiteral("Escape"));
        waitClosed(mainMenu());
    }
};

ZORVEL_TEST_MAIN(TestTrayIcon)
#include "tst_TrayIcon.moc"
