#include "support/TestMain.h"
#include "DesktopFixture.h"
#include "MenuFixture.h"

#include "app/Constants.h"
#include "desktop/EmailAddress.h"
#include "desktop/MainWindow.h"
#include "desktop/QGlobalShortcut.h"
#include "store/HistoryQueries.h"

using namespace DesktopFixture;
using namespace MenuFixture;

// The settings window on a fresh installation: its tabs, the hot-key and paste
// boxes with their storage rules, the hot key popping the menu, and the
// signed-out actions of the general and privacy tabs.
class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    MainWindow *window() { return MainWindow::instance(); }
    template <typename T> T *child(const char *name)
    {
        T *widget = window()->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    // What the user does: pick an item, which also emits the activation signal.
    void choose(const char *box, const QString &text)
    {
        QComboBox *combo = child<QComboBox>(box);
        const int index = combo->findText(text);
        QVERIFY2(index >= 0, qPrintable(text));
        combo->setCurrentIndex(index);
        Q_EMIT combo->activated(index);
    }
    static QVariant stored(const char *key) { return clipUtils::settings()->value(QLatin1String(key)); }

private slots:
    void initTestCase() { DBFetcher::instance(); }

    void freshInstallationHasTheFactorySetup()
    {
        QSettings *settings = clipUtils::settings();
        QCOMPARE(settings->value(QLatin1String(Zorvel::Key::FirstShow), 0).toInt(), 0);
        QCOMPARE(window()->isVisible(), false);
        QCOMPARE(settings->value(QLatin1String(Zorvel::Key::FirstShow)).toInt(), 1);
        QVERIFY(window()->trayIcon()->isVisible());
        QCOMPARE(window()->trayIcon()->toolTip(), QStringLiteral("Zorvel"));
        QCOMPARE(window()->trayIcon()->contextMenu(), mainMenu());

        QCOMPARE(child<QComboBox>("comboBox")->currentText(), QStringLiteral("Shift"));
        QCOMPARE(child<QComboBox>("comboBox_2")->currentText(), QStringLiteral("Alt"));
        QCOMPARE(child<QComboBox>("comboBox_3")->currentText(), QStringLiteral("v"));
        QCOMPARE(child<QComboBox>("comboBox_3")->count(), 27);
        QCOMPARE(child<QComboBox>("comboBox_4")->currentText(), QStringLiteral("shift+insert"));
        QCOMPARE(QGlobalShortcut::identifier(window()->shortcut()->key()), 0x57u);
        QCOMPARE(probeHotKey(5, 0x56), 1);
        QVERIFY(!stored(Zorvel::Key::ShortkeyLast).isValid()); // the factory key is not written down

        QCOMPARE(window()->size(), QSize(486, 283));
        QCOMPARE(child<QTabWidget>("tabWidget")->currentIndex(), 1);
        QCOMPARE(child<QLabel>("label_version")->text(), QStringLiteral("Zorvel ver 2.1.15"));
        QCOMPARE(child<QLineEdit>("line_passwd")->echoMode(), QLineEdit::Password);
        QCOMPARE(child<QListWidget>("list_sys_keywords")->count(), 8);
        QVERIFY(!child<QLabel>("label_privacy")->pixmap(Qt::ReturnByValue).isNull());
    }

    // The hot key pops the menu at the pointer; near the bottom it opens upwards.
    void hotKeyPopsTheMenuAtThePointer_data()
    {
        QTest::addColumn<int>("y");
        QTest::addColumn<bool>("upwards");
        QTest::newRow("middle") << 200 << false;
        QTest::newRow("bottom") << QGuiApplication::primaryScreen()->availableGeometry().bottom() - 5 << true;
    }
    void hotKeyPopsTheMenuAtThePointer()
    {
        QFETCH(int, y);
        QFETCH(bool, upwards);
        QCOMPARE(QGlobalShortcut::identifier(window()->shortcut()->key()), 0x57u); // the window holds the key
        xdotool({QStringLiteral("mousemove"), QStringLiteral("300"), QString::number(y)});
        QTRY_COMPARE(QCursor::pos(), QPoint(300, y));
        pressKeys(QStringLiteral("shift+alt+v"));
        QTRY_VERIFY(isOpen(mainMenu()));
        QCOMPARE(mainMenu()->x(), 300);
        if (upwards)
            QCOMPARE(mainMenu()->geometry().bottom(), QGuiApplication::primaryScreen()->availableGeometry().bottom());
        else
            QCOMPARE(mainMenu()->y(), y);
        pressKeys(QStringLiteral("Escape"));
        waitClosed(mainMenu());
    }

    void hotKeyChoicesFollowTheStorageRules()
    {
        choose("comboBox", QStringLiteral("无")); // Alt+v remains a valid choice
        QVERIFY(!stored(Zorvel::Key::ShortkeyFirst).isValid());
        QCOMPARE(stored(Zorvel::Key::ShortkeyMiddle).toString(), QStringLiteral("Alt"));
        QCOMPARE(stored(Zorvel::Key::ShortkeyLast).toString(), QStringLiteral("v"));
        QCOMPARE(probeHotKey(1, 0x56), 1);
        QCOMPARE(probeHotKey(5, 0x56), 0);

        choose("comboBox_2", QStringLiteral("无")); // a letter alone: nothing changes
        QCOMPARE(stored(Zorvel::Key::ShortkeyMiddle).toString(), QStringLiteral("Alt"));
        QCOMPARE(probeHotKey(1, 0x56), 1);

        choose("comboBox_3", QStringLiteral("b")); // a letter with no modifier switches the hot key off
        QCOMPARE(child<QComboBox>("comboBox_3")->currentText(), QStringLiteral("无"));
        QVERIFY(!stored(Zorvel::Key::ShortkeyMiddle).isValid());
        QVERIFY(!stored(Zorvel::Key::ShortkeyLast).isValid());
        QCOMPARE(stored(Zorvel::Key::ShortkeyEnabled).toBool(), false);
        QCOMPARE(probeHotKey(1, 0x56), 0);
        QVERIFY(window()->shortcut()->key().isEmpty());

        choose("comboBox", QStringLiteral("Ctrl")); // a modifier without a letter: still off
        QCOMPARE(probeHotKey(2, 0x42), 0);
        choose("comboBox_3", QStringLiteral("b"));
        QCOMPARE(stored(Zorvel::Key::ShortkeyFirst).toString(), QStringLiteral("Ctrl"));
        QCOMPARE(stored(Zorvel::Key::ShortkeyLast).toString(), QStringLiteral("b"));
        QCOMPARE(probeHotKey(2, 0x42), 1);
        QSignalSpy spy(window()->shortcut(), &QGlobalShortcut::activated);
        pressKeys(QStringLiteral("ctrl+b"));
        QTRY_COMPARE(spy.count(), 1);
        closeMenu(mainMenu());

        choose("comboBox_3", QStringLiteral("无")); // the registered key stays
        QCOMPARE(stored(Zorvel::Key::ShortkeyLast).toString(), QStringLiteral("b"));
        QCOMPARE(probeHotKey(2, 0x42), 1);
    }

    void pasteKeystrokeChoice()
    {
        choose("comboBox_4", QStringLiteral("shift+ctrl+v"));
        QCOMPARE(stored(Zorvel::Key::PastKey).toString(), QStringLiteral("shift+ctrl+v"));
        choose("comboBox_4", QStringLiteral("shift+insert"));
        QVERIFY(!stored(Zorvel::Key::PastKey).isValid());
        // X11 grabs keys and types: nothing to say about the desktop.
        QVERIFY(MainWindow::instance()->findChild<QLabel *>(QStringLiteral("label_platform_note"))->isHidden());
    }

    void closingOnlyHides()
    {
        QSignalSpy quitting(qApp, &QCoreApplication::aboutToQuit);
        window()->showTab(MainWindow::TabSetting);
        QTRY_VERIFY(window()->isVisible());
        QCOMPARE(child<QTabWidget>("tabWidget")->currentIndex(), 0);
        QVERIFY(!window()->close());
        QVERIFY(!window()->isVisible());
        QCOMPARE(quitting.count(), 0);

        MenuManager::instance()->setting(); // the menu brings it back
        QTRY_VERIFY(window()->isVisible());
        window()->hide();
    }

    void checkBoxesWriteTheirSettings()
    {
        child<QCheckBox>("check_secert")->click();
        QCOMPARE(clipUtils::checkSecret(), child<QCheckBox>("check_secert")->isChecked());
        child<QCheckBox>("check_file_secert")->click();
        QCOMPARE(clipUtils::fileAsSecret(), child<QCheckBox>("check_file_secert")->isChecked());
        child<QCheckBox>("checkAutoSet")->click();
        QVERIFY(clipUtils::isAutoSetClipboard());
        child<QCheckBox>("check_auto_start")->click();
        QVERIFY(clipUtils::isAutoStart());
        child<QCheckBox>("check_auto_start")->click();
        QVERIFY(!clipUtils::isAutoStart());

        QVERIFY(!find(mainMenu(), QStringLiteral("清空剪贴板")));
        child<QCheckBox>("cleanupMenu")->click();
        QVERIFY(clipUtils::menuCleanup());
        textEntry(QStringLiteral("gone"), 100);
        find(mainMenu(), QStringLiteral("清空剪贴板"))->trigger(); // rebuilt at once
        QCOMPARE(rows(QStringLiteral("where favourite <= 0")), 0);
        child<QCheckBox>("cleanupMenu")->click();
        QVERIFY(!find(mainMenu(), QStringLiteral("清空剪贴板")));
    }

    void clearingAsksAndKeepsFavourites()
    {
        wipeStore();
        textEntry(QStringLiteral("one"), 100);
        textEntry(QStringLiteral("two"), 101);
        History fav = textEntry(QStringLiteral("three"), 102, QStringLiteral("favourite"));
        HistoryQueries::setFavourite(9, fav.file_hash());

        QStringList seen;
        answerBoxes({QMessageBox::Cancel}, &seen);
        child<QPushButton>("clear_button")->click();
        QCOMPARE(seen, QStringList({"清空历史记录?"}));
        QCOMPARE(rows(), 3);

        seen.clear();
        answerBoxes({QMessageBox::Ok, QMessageBox::Ok}, &seen);
        child<QPushButton>("clear_button")->click();
        QCOMPARE(seen, QStringList({"清空历史记录?", "删除了2条"}));
        QCOMPARE(rows(), 1);
        QVERIFY(child<QPushButton>("clear_button")->isEnabled());
        QCOMPARE(labels(favourites()), QStringList({"three"}));
    }

    // The account tab's signed-out choices and a sign-out (the flows against the
    // service run in tests/net/tst_AccountTab).
    void accountTabAndSigningOut()
    {
        child<QRadioButton>("radio_findpwd")->click();
        QVERIFY(!child<QLineEdit>("line_passwd")->isEnabled());
        child<QRadioButton>("radio_register")->click();
        QCOMPARE(child<QPushButton>("button_login")->text(), QStringLiteral("注册"));
        child<QRadioButton>("radio_login")->click();
        child<QLineEdit>("line_email")->setText(QStringLiteral("not an address"));
        QStringList seen;
        answerBoxes({QMessageBox::Ok}, &seen);
        child<QPushButton>("button_login")->click();
        QCOMPARE(seen, QStringList({"邮箱格式存在问题"}));

        clipUtils::settings()->setValue(QLatin1String(Zorvel::Key::UserToken), QStringLiteral("token"));
        window()->updateLoginUi();
        QCOMPARE(child<QTabWidget>("tabWidget")->widget(1)->objectName(), QStringLiteral("tab_logout"));
        wipeStore();
        const History fav = textEntry(QStringLiteral("starred"), 101, QStringLiteral("favourite"));
        child<QPushButton>("button_logout")->click();
        QVERIFY(!clipUtils::hasUserToken());
        QCOMPARE(child<QTabWidget>("tabWidget")->widget(1)->objectName(), QStringLiteral("tab_login"));
        QCOMPARE(rows(QStringLiteral("where content = 'starred'")), 0);
        QVERIFY(!QFile::exists(CFileManager::filesPath() + fav.file_hash()));
    }

    void emailAddressPattern()
    {
        QCOMPARE(EmailAddress::normalise(QStringLiteral(" ann @ example.org ")), QStringLiteral("ann@example.org"));
        for (const char *good : {"ann.lee+tag@mail.example.org", "a@b.co", "a@b.co-uk", "a@b.abcde"})
            QVERIFY2(EmailAddress::isValid(QString::fromUtf8(good)), good);
        for (const char *bad : {"a@b.c", "a@b.abcdef", "a@bcom", "a b@c.com", "a@b.com\nx@y.org"})
            QVERIFY2(!EmailAddress::isValid(QString::fromUtf8(bad)), bad);
    }

    void userKeywordsAreEditedInPlace()
    {
        QListView *list = child<QListView>("list_user_keywords");
        window()->showTab(MainWindow::TabPrivacy);
        QTRY_VERIFY(list->isVisible());
        child<QPushButton>("button_add")->click();
        QModelIndex row = list->model()->index(0, 0);
        QCOMPARE(row.data().toString(), QStringLiteral("新关键字"));
        auto *editor = list->findChild<QLineEdit *>();
        QTRY_VERIFY(editor = list->findChild<QLineEdit *>());
        editor->setText(QStringLiteral("银行"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(stored(Zorvel::Key::UserKeyWords).toStringList(), QStringList({"银行"}));

        for (int i = 1; i < Zorvel::kMaxUserKeywords; ++i)
            list->model()->insertRow(i);
        QStringList seen;
        answerBoxes({QMessageBox::Ok}, &seen);
        child<QPushButton>("button_add")->click();
        QCOMPARE(seen, QStringList({"超出最大数"}));
        QCOMPARE(list->model()->rowCount(), Zorvel::kMaxUserKeywords);

        list->model()->removeRows(1, Zorvel::kMaxUserKeywords - 1);
        list->setCurrentIndex(list->model()->index(0, 0));
        child<QPushButton>("button_remove")->click();
        QCOMPARE(stored(Zorvel::Key::UserKeyWords).toStringList(), QStringList());
        window()->hide();
    }

};

ZORVEL_TEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
