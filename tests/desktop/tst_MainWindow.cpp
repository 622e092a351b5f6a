#include "support/TestMain.h"
#include "DesktopFixture.h"
#include "MenuFixture.h"
#include "net/BoxDriver.h"

#include "app/Constants.h"
#include "desktop/EmailAddress.h"
#include "desktop/EncryptWindow.h"
#include "desktop/HotKeyChoice.h"
#include "desktop/MainWindow.h"
#include "desktop/QGlobalShortcut.h"
#include "push/MqttManager.h"
#include "store/HistoryQueries.h"

using namespace DesktopFixture;
using namespace MenuFixture;

// The settings window on a fresh installation: its tabs, the hot-key and paste
// boxes with their storage rules, the hot key and the tray icon popping the menu,
// the signed-out actions of the general and privacy tabs, and the about tab's and
// user tab's buttons.
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
    static void signIn()
    {
        clipUtils::settings()->setValue(QLatin1String(Zorvel::Key::UserToken), QStringLiteral("about-tab-token"));
        clipUtils::settings()->setValue(QLatin1String(Zorvel::Key::UserId), QStringLiteral("7"));
    }

private slots:
    void initTestCase() { DBFetcher::instance(); }

    void freshInstallationHasTheFactorySetup()
    {
        QSettings *settings = clipUtils::settings();
        QCOMPARE(settings->value(QLatin1String(Zorvel::Key::FirstShow), 0).toInt(), 0);
        QCOMPARE(window()->isVisible(), false);
        QCOMPARE(settings->value(QLatin1String(Zorvel::Key::FirstShow)).toInt(), 1);
        QVERIFY(window()->trayIcon()->isVisible());
        QCOMPARE(window()->trayIcon()->contextMenu(), mainMenu());

        QCOMPARE(child<QComboBox>("comboBox")->currentText(), QStringLiteral("Shift"));
        QCOMPARE(child<QComboBox>("comboBox_2")->currentText(), QStringLiteral("Alt"));
        QCOMPARE(child<QComboBox>("comboBox_3")->currentText(), QStringLiteral("v"));
        QCOMPARE(child<QComboBox>("comboBox_4")->currentText(), QStringLiteral("shift+insert"));
        QCOMPARE(QGlobalShortcut::identifier(window()->shortcut()->key()), 0x57u);
        QCOMPARE(probeHotKey(5, 0x56), 1);
        QVERIFY(!stored(Zorvel::Key::ShortkeyLast).isValid()); // the factory key is not written down

        QCOMPARE(child<QTabWidget>("tabWidget")->currentIndex(), 1);
    }

    // The hot key and a click on the tray icon pop the menu at the pointer; near the
    // bottom it opens upwards.
    void menuPopsAtThePointer_data()
    {
        QTest::addColumn<bool>("trayClick");
        QTest::addColumn<int>("y");
        QTest::addColumn<bool>("upwards");
        QTest::newRow("hot key, middle") << false << 200 << false;
        QTest::newRow("hot key, bottom") << false << QGuiApplication::primaryScreen()->availableGeometry().bottom() - 5
                                         << true;
        QTest::newRow("tray click") << true << 200 << false;
    }
    void menuPopsAtThePointer()
    {
        QFETCH(bool, trayClick);
        QFETCH(int, y);
        QFETCH(bool, upwards);
        QCOMPARE(QGlobalShortcut::identifier(window()->shortcut()->key()), 0x57u); // the window holds the key
        xdotool({QStringLiteral("mousemove"), QStringLiteral("300"), QString::number(y)});
        QTRY_COMPARE(QCursor::pos(), QPoint(300, y));
        if (trayClick)
            Q_EMIT window()->trayIcon()->activated(QSystemTrayIcon::Trigger);
        else
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
        QVERIFY(HotKeyChoice::load().isNone()); // and stays off at the next start

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

        BoxDriver boxes(QMessageBox::Cancel);
        child<QPushButton>("clear_button")->click();
        QCOMPARE(boxes.seen(), QStringList({"清空历史记录? | 清空操作会清空您所有的历史记录(除收藏外)"}));
        QCOMPARE(rows(), 3);

        boxes.clear();
        boxes.setAnswer(QMessageBox::Ok);
        child<QPushButton>("clear_button")->click();
        QCOMPARE(boxes.seen().mid(1), QStringList({"删除了2条"}));
        QCOMPARE(rows(), 1);
        QVERIFY(child<QPushButton>("clear_button")->isEnabled());
        QCOMPARE(labels(favourites()), QStringList({"three"}));
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
        QCOMPARE(list->model()->index(0, 0).data().toString(), QStringLiteral("新关键字"));
        QLineEdit *editor = nullptr;
        QTRY_VERIFY(editor = list->findChild<QLineEdit *>());
        editor->setText(QStringLiteral("银行"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(stored(Zorvel::Key::UserKeyWords).toStringList(), QStringList({"银行"}));

        for (int i = 1; i < Zorvel::kMaxUserKeywords; ++i)
            list->model()->insertRow(i);
        BoxDriver boxes;
        child<QPushButton>("button_add")->click();
        QCOMPARE(boxes.seen(), QStringList({"超出最大数 | 自定义关键字最多支持25个"}));
        QCOMPARE(list->model()->rowCount(), Zorvel::kMaxUserKeywords);

        list->model()->removeRows(1, Zorvel::kMaxUserKeywords - 1);
        list->setCurrentIndex(list->model()->index(0, 0));
        child<QPushButton>("button_remove")->click();
        QCOMPARE(stored(Zorvel::Key::UserKeyWords).toStringList(), QStringList());
        window()->hide();
    }

    void serviceStatusBoxes()
    {
        BoxDriver boxes;
        clipUtils::removeUserToken();
        child<QPushButton>("button_check_service")->click();
        signIn();
        QVERIFY(MqttManager::instance()->lastError().isEmpty());
        child<QPushButton>("button_check_service")->click();
        QCOMPARE(boxes.seen(), QStringList({QStringLiteral("未登录无法检测服务"), QStringLiteral("自动同步服务状态正常")}));
        clipUtils::removeUserToken();
    }

    // The thirty newest texts, newest first; images are left out and a text whose
    // file is missing leaves an empty block.
    void exportButtonWritesTheThirtyNewestTexts()
    {
        wipeStore();
        for (int i = 0; i < 35; ++i)
            textEntry(QStringLiteral("text %1").arg(i), 1000 + i);
        QFile::remove(CFileManager::filesPath() + clipUtils::md5Hex("text 33"));
        imageEntry(Qt::blue, 5000);
        const QString target = QDir::homePath() + QStringLiteral("/export");
        QTimer dialogDriver;
        connect(&dialogDriver, &QTimer::timeout, this, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible())
                return;
            QCOMPARE(dialog->nameFilters(), QStringList({QStringLiteral("*.txt")}));
            dialog->selectFile(target);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        dialogDriver.start(10);
        child<QPushButton>("export_txt")->click();
        dialogDriver.stop();

        QFile file(target + QStringLiteral(".txt")); // the suffix is added
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray expected;
        for (int i = 34; i >= 5; --i)
            expected += (i == 33 ? QByteArray() : "text " + QByteArray::number(i)) + "\r\n\r\n";
        QCOMPARE(file.readAll(), expected);
    }

    void encryptionWindowFromTheUserTabAndTheMenu()
    {
        signIn();
        window()->updateLoginUi();
        EncryptWindow *encrypt = EncryptWindow::instance();
        child<QPushButton>("button_encrypt")->click();
        QTRY_VERIFY(encrypt->isVisible());
        encrypt->hide();

        // Signed in without a key: the tray menu offers activation.
        QAction *activate = find(mainMenu(), QStringLiteral("激活端对端加密"));
        QVERIFY(activate);
        activate->trigger();
        QTRY_VERIFY(encrypt->isVisible());
        encrypt->hide();
        window()->hide();
        clipUtils::removeUserToken();
    }
};

ZORVEL_TEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
