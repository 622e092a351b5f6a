// The settings window's about tab, export button and encryption button: the
// service-status boxes, the log mail, the text export through its file dialog,
// and the way to the encryption window from the user tab and the tray menu.
#include "support/TestMain.h"
#include "DesktopFixture.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "desktop/MainWindow.h"
#include "desktop/MenuManager.h"
#include "desktop/EncryptWindow.h"
#include "push/MqttManager.h"

using namespace DesktopFixture;

namespace {

// Receives what the window hands to the desktop's handlers.
class UrlSink : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

void signIn()
{
    clipUtils::settings()->setValue(QLatin1String(Zorvel::Key::UserToken), QStringLiteral("about-tab-token"));
    clipUtils::settings()->setValue(QLatin1String(Zorvel::Key::UserId), QStringLiteral("7"));
}

} // namespace

// Points the MQTT connection at a host where no broker listens.
class MqttManagerTestHook
{
public:
    static void useBroker(MqttManager *m, const QString &host)
    {
        m->disconnectBroker();
        m->setConnectionState(MqttManager::Disconnected);
        m->createClient(host);
    }
};

class TestAboutTab : public QObject
{
    Q_OBJECT

    MainWindow *window = nullptr;

    template <typename T>
    T *child(const char *name) { return window->findChild<T *>(QLatin1String(name)); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(DBFetcher::instance()->isOpen());
        window = MainWindow::instance();
    }

    void serviceStatusBoxes()
    {
        QStringList seen;
        answerBoxes({QMessageBox::Ok, QMessageBox::Ok}, &seen);
        clipUtils::removeUserToken();
        child<QPushButton>("button_check_service")->click();
        signIn();
        MqttManager *mqtt = MqttManager::instance();
        QVERIFY(mqtt->lastError().isEmpty());
        child<QPushButton>("button_check_service")->click();
        QCOMPARE(seen, QStringList({QStringLiteral("未登录无法检测服务"), QStringLiteral("自动同步服务状态正常")}));

        MqttManagerTestHook::useBroker(mqtt, QStringLiteral("127.0.0.3"));
        mqtt->connectBroker();
        QTRY_VERIFY_WITH_TIMEOUT(!mqtt->lastError().isEmpty(), 20000);
        seen.clear();
        answerBoxes({QMessageBox::Ok}, &seen);
        child<QPushButton>("button_check_service")->click();
        QCOMPARE(seen, QStringList({mqtt->lastError()}));
        mqtt->disconnectBroker();
        clipUtils::removeUserToken();
    }

    void sendLogOpensTheMailAndTheLogFolder()
    {
        UrlSink sink;
        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &sink, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &sink, "open");
        child<QPushButton>("button_send_log")->click();
        QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(sink.opened.size(), 2);
        QCOMPARE(sink.opened.at(0).scheme(), QStringLiteral("mailto"));
        QCOMPARE(sink.opened.at(0).query(), QStringLiteral("subject=SendLog"));
        QCOMPARE(sink.opened.at(1), QUrl::fromLocalFile(CFileManager::rootPath()));
        QVERIFY(QFile::exists(CFileManager::rootPath()));
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
        window->updateLoginUi();
        EncryptWindow *encrypt = EncryptWindow::instance();
        encrypt->hide();
        child<QPushButton>("button_encrypt")->click();
        QTRY_VERIFY(encrypt->isVisible());
        encrypt->hide();

        // Signed in without a key: the tray menu offers activation.
        QAction *activate = nullptr;
        MenuManager::instance()->refresh(); // as before it is shown
        for (QAction *a : MenuManager::instance()->menu()->actions())
            if (a->text() == QStringLiteral("激活端对端加密"))
                activate = a;
        QVERIFY(activate);
        activate->trigger();
        QTRY_VERIFY(encrypt->isVisible());
        encrypt->hide();
        window->hide();
        clipUtils::removeUserToken();
    }
};

ZORVEL_TEST_MAIN(TestAboutTab)
#include "tst_AboutTab.moc"
