// The settings window's account work against the local service, with its message
// boxes answered by a timer: sign-up, sign-in, password reset, sign-out, the
// handshake, the version checks, and the tray menu's signed-in pull, delete, clear.
#include "support/TestMain.h"
#include "BoxDriver.h"
#include "NetFixture.h"
#include "TlsTestServer.h"

#include "desktop/MainWindow.h"
#include "desktop/MenuManager.h"
#include "net/CClearHistoryRequest.h"
#include "net/CInitRequest.h"
#include "net/CPullRequest.h"
#include "net/CRequestCheckUpdate.h"
#include "net/CRequestGetFavourite.h"
#include "net/EntryActions.h"
#include "net/FavouriteService.h"
#include "net/SyncHandOver.h"
#include "store/HistoryQueries.h"

using namespace NetFixture;

namespace {

const QString kConfirmSignUp = "邮箱将会用于您找回密码等服务,确认使用此邮箱?";
const QString kConfirmReset = "确认向此邮箱发送重置密码的邮件?";

// Receives what the window hands to the desktop's browser.
class UrlSink : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

// The tray menu is looked at as it would be shown (rebuilt when dirty).
QAction *findAction(QMenu *menu, const QString &text)
{
    if (menu == MenuManager::instance()->menu())
        MenuManager::instance()->refresh();
    for (QAction *a : menu->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

} // namespace

class TestAccountTab : public QObject
{
    Q_OBJECT

    MainWindow *window = nullptr;
    QString email;
    const QString password = "tab password";

    template <typename T>
    T *child(const char *name) { return window->findChild<T *>(QLatin1String(name)); }
    QTabWidget *tabs() { return child<QTabWidget>("tabWidget"); }
    QWidget *accountTab() { return tabs()->widget(1); }

    void submit(const char *radio, const QString &address, const QString &pass)
    {
        child<QRadioButton>(radio)->click();
        child<QLineEdit>("line_email")->setText(address);
        child<QLineEdit>("line_passwd")->setText(pass);
        child<QPushButton>("button_login")->click();
    }

    // Waits until the sign-in tab is usable again after a request.
    bool settled() { return QTest::qWaitFor([this] { return child<QWidget>("tab_login")->isEnabled(); }, 30000); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(DBFetcher::instance()->isOpen());
        email = uniqueEmail();
        BoxDriver boxes;
        window = MainWindow::instance();
        // The start-up version check finds the same version: nothing is shown.
        QVERIFY(QTest::qWaitFor([] { return clipUtils::settings()->contains("newversion"); }, 30000));
        QVERIFY(boxes.seen().isEmpty());
        QCOMPARE(tabs()->widget(1)->objectName(), QString("tab_login"));
    }

    void init() { wipeStore(); }

    void signUpAsksFirst()
    {
        BoxDriver boxes(QMessageBox::Cancel);
        QString typed = email;
        typed.insert(typed.indexOf('@') + 1, "  "); // spaces are dropped
        submit("radio_register", typed, password);
        QCOMPARE(boxes.seen(), QStringList({"确认邮箱: " + email + " | " + kConfirmSignUp}));
        QVERIFY(child<QWidget>("tab_login")->isEnabled());

        boxes.clear();
        boxes.setAnswer(QMessageBox::Ok);
        submit("radio_register", typed, password);
        QTRY_VERIFY_WITH_TIMEOUT(clipUtils::hasUserToken(), 30000);
        QCOMPARE(boxes.seen().size(), 1);
        QCOMPARE(accountTab()->objectName(), QString("tab_logout"));
        QCOMPARE(tabs()->tabText(1), QString("用户信息"));
        QCOMPARE(child<QLabel>("label_user_email")->text(), email);
    }

    void signOutClearsKeysTokenAndHistoryThenRecaptures()
    {
        createKey();
        History kept = captureText("a favourite");
        kept.setCategory("favourite");
        kept.setFavourite(100);
        kept.save();
        captureText("ordinary entry");
        clipUtils::settings()->setValue("request_timestamp", "1700000000");
        const QString onClipboard = "still on the clipboard";
        QGuiApplication::clipboard()->setText(onClipboard);
        QTRY_COMPARE(QGuiApplication::clipboard()->text(), onClipboard);

        BoxDriver boxes;
        child<QPushButton>("button_logout")->click();
        QVERIFY(!clipUtils::hasUserToken());
        QVERIFY(!ZeroManager::instance()->hasKey());
        QVERIFY(!clipUtils::settings()->contains("request_timestamp"));
        QCOMPARE(rows("where category = 'favourite'"), 0);
        QCOMPARE(rows(), 1); // what the clipboard holds, captured again
        QVERIFY(stored(clipUtils::md5Hex(onClipboard.toUtf8())).exists());
        QVERIFY(boxes.seen().isEmpty());
    }

    void takenAddressAndWrongPassword()
    {
        BoxDriver boxes;
        submit("radio_register", email, password);
        QTRY_COMPARE_WITH_TIMEOUT(boxes.seen().size(), 2, 30000);
        QCOMPARE(boxes.seen().at(1), QString("邮箱已被注册,尝试找回密码"));
        QVERIFY(settled());

        boxes.clear();
        submit("radio_login", email, "not the password");
        QTRY_COMPARE_WITH_TIMEOUT(boxes.seen(), QStringList({"登录失败 | 密码或用户名错误"}), 30000);
        QVERIFY(settled());
        QVERIFY(!clipUtils::hasUserToken());
        // Nor does a success without a token store an account.
        QVERIFY(CLoginRequest().parseResponse("{\"code\": 0, \"user_id\": 42}").isValid());
        QVERIFY(!clipUtils::hasUserToken());
    }

    // The password leaves the device only as its hash sealed under the server's key,
    // which the sign-in fetches first.
    void signInThroughTheTab()
    {
        BoxDriver boxes;
        clipUtils::settings()->remove("server_public_key");
        CLoginRequest login;
        login.setUserName(email);
        login.setPassword(password);
        login.buildBody();
        QCOMPARE(QJsonDocument::fromJson(login.body()).object().keys(), QStringList({"username"}));
        submit("radio_login", email, password);
        QTRY_VERIFY_WITH_TIMEOUT(clipUtils::hasUserToken(), 30000);
        QVERIFY(settled());
        QVERIFY(boxes.seen().isEmpty());

        login.setPassword(password);
        login.buildBody();
        const QVariantMap body = QJsonDocument::fromJson(login.body()).object().toVariantMap();
        QCOMPARE(body.keys(), QStringList({"pwd_hash", "username"}));
        QCOMPARE(QByteArray::fromBase64(body.value("pwd_hash").toByteArray()).size(), 32 + 48); // a sealed box of the MD5 text
        QVERIFY(!login.body().contains(clipUtils::md5Hex(password.toUtf8()).toLatin1()) && !login.body().contains(password.toUtf8()));
    }

    void passwordReset()
    {
        child<QPushButton>("button_logout")->click();
        BoxDriver boxes;
        const QStringList answers = {"无此邮箱", "请求成功 | 请访问你的邮箱并且重置密码。\n注意：某些邮件服务器会把Zorvel的邮件认作\"垃圾邮件\""};
        for (const QString &address : {"nobody." + email, email}) {
            boxes.clear();
            submit("radio_findpwd", address, QString());
            QTRY_COMPARE_WITH_TIMEOUT(boxes.seen(),
                                      QStringList({"确认邮箱: " + address + " | " + kConfirmReset, answers.at(address == email)}), 30000);
            QVERIFY(settled());
        }
    }

    // An expired token (the handshake says so) signs out silently. A token the service
    // ended (a password reset elsewhere) has the requests still made with it refused
    // (HTTP 401): the device signs out once, forgets its key and says so in one box.
    void endedSignInsSignOut()
    {
        BoxDriver boxes;
        QCOMPARE(NetFixture::signIn(email, password).code(), 0);
        window->updateLoginUi();
        clipUtils::settings()->setValue("user_token", "0123456789abcdef-expired");
        clipUtils::settings()->remove("homepage");
        auto *init = new CInitRequest;
        connect(init, &CBaseRequest::responseData, window, &MainWindow::initRequestFinish);
        init->start();
        QTRY_VERIFY_WITH_TIMEOUT(!clipUtils::hasUserToken(), 30000);
        QCOMPARE(accountTab()->objectName(), QString("tab_login"));
        QVERIFY(clipUtils::settings()->value("homepage").toString().startsWith("https://"));
        QVERIFY(boxes.seen().isEmpty());

        QCOMPARE(NetFixture::signIn(email, password).code(), 0);
        window->updateLoginUi();
        createKey();
        clipUtils::settings()->setValue("user_token", QString(64, '0')); // one the service does not know
        QSignalSpy ended(SyncHandOver::instance(), &SyncHandOver::sessionEnded);
        int answered = 0;
        for (int i = 0; i < 3; ++i) {
            auto *pull = new CPullRequest;
            connect(pull, &CBaseRequest::responseData, this, [&answered](CBaseRequest *r) {
                ++answered;
                r->deleteLater();
            });
            pull->start();
        }
        QTRY_COMPARE_WITH_TIMEOUT(answered, 3, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(boxes.seen(), QStringList({"已退出登录 | 服务器已结束本设备的登录（例如密码已重置），请重新登录。"}), 30000);
        QCOMPARE(ended.count(), 1);
        QVERIFY(!clipUtils::hasUserToken());
        QVERIFY(!ZeroManager::instance()->hasKey());
        QCOMPARE(accountTab()->objectName(), QString("tab_login"));
    }

    void versionChecks()
    {
        BoxDriver boxes;
        child<QPushButton>("button_check_update")->click();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.seen(), QStringList({"您的版本为最新版"}), 30000);
        QVERIFY(child<QWidget>("tab_about")->isEnabled());

        // A newer version, from the test endpoint: asked from the button, Cancel opens
        // nothing; at start-up the window comes forward on the about tab and OK opens the
        // download page.
        TlsTestServer newer(QDir::homePath() + "/tls");
        UrlSink sink;
        QDesktopServices::setUrlHandler("https", &sink, "open");
        for (bool startup : {false, true}) {
            window->hide();
            boxes.clear();
            boxes.setAnswer(startup ? QMessageBox::Ok : QMessageBox::Cancel);
            auto *request = new CRequestCheckUpdate;
            request->setBaseUrl(newer.baseUrl());
            connect(request, &CBaseRequest::responseData, window,
                    startup ? &MainWindow::startupCheckUpdateRequestFinish : &MainWindow::checkUpdateRequestFinish);
            request->start();
            QTRY_COMPARE_WITH_TIMEOUT(boxes.seen(), QStringList({"有更新: ver2.2.0 | 修复了一些问题"}), 30000);
            QTRY_COMPARE(sink.opened.size(), int(startup));
        }
        QCOMPARE(clipUtils::settings()->value("newversion").toString(), QString("2.2.0"));
        QVERIFY(window->isVisible());
        QCOMPARE(tabs()->currentIndex(), 3);
        QCOMPARE(sink.opened.first(), QUrl(newer.baseUrl() + "download/"));
        QDesktopServices::unsetUrlHandler("https");
        window->hide();
    }

    void menuPullDeleteAndClearWhenSignedIn()
    {
        QCOMPARE(NetFixture::signIn(email, password).code(), 0);
        createKey();
        MenuManager *menu = MenuManager::instance();
        const History first = captureText("menu entry one", 1000);
        const History second = captureText("menu entry two", 2000);
        QVERIFY(pushPending());

        // Pull into an empty store through the menu.
        wipeStore();
        clipUtils::settings()->remove("request_timestamp");
        menu->pull();
        QTRY_VERIFY_WITH_TIMEOUT(stored(first.file_hash()).exists() && stored(second.file_hash()).exists(), 30000);
        QTRY_VERIFY(findAction(menu->menu(), "menu entry two"));

        // Delete one entry from its sub-menu: gone on the service and here.
        QAction *entry = findAction(menu->menu(), "menu entry two");
        menu->hovered(entry);
        QAction *remove = findAction(entry->menu(), "删除");
        QVERIFY(remove);
        remove->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!stored(second.file_hash()).exists(), 30000);
        QVERIFY(serviceCopy(second.file_hash()).isEmpty());
        QVERIFY(stored(first.file_hash()).exists());

        // Clear from the menu: the service and the local store.
        clipUtils::setMenuCleanup(true);
        menu->updateMenu();
        QAction *clear = findAction(menu->menu(), QStringLiteral("清空剪贴板"));
        QVERIFY(clear);
        QSignalSpy cleared(EntryActions::instance(), &EntryActions::historyCleared);
        clear->trigger();
        clear->trigger(); // joins the clear under way
        // Every request is gone once answered; the clear was sent and reported once.
        QTRY_VERIFY_WITH_TIMEOUT(EntryActions::instance()->children().isEmpty(), 30000);
        QCOMPARE(cleared.count(), 1);
        QVERIFY(!CClearHistoryRequest().parseResponse("{\"code\": 5, \"count\": 3}").isValid()); // a refusal clears nothing
        QCOMPARE(rows(), 0);
        clipUtils::settings()->remove(QStringLiteral("request_timestamp"));
        QCOMPARE(run(new CPullRequest).data.toInt(), 0);
        QCOMPARE(rows(), 0);
        clipUtils::setMenuCleanup(false);
    }

    // Signed in, marking an entry the service does not hold (not uploaded yet, or
    // confidential) as a favourite marks it here only: the entry stays, and a
    // confidential text is not sent in any form.
    void menuFavouriteOfEntriesTheServiceLacks()
    {
        QCOMPARE(NetFixture::signIn(email, password).code(), 0);
        createKey();
        const QString secret = "secret favourite 4711";
        const History confidential = captureText(secret);
        QSqlQuery("update History set secert = 1 where file_hash = '" + confidential.file_hash() + "'").exec(); // as the capture marks it
        for (const History &entry : {captureText("unsent favourite"), confidential}) {
            EntryActions::instance()->toggleFavourite(entry); // what the menu's "收藏" asks for
            QTRY_VERIFY(HistoryQueries::exists(entry.file_hash(), "favourite"));
            QVERIFY(stored(entry.file_hash()).favourite() > 0);
            QVERIFY(HistoryQueries::exists(entry.file_hash(), "history"));
        }
        // Whatever runs after the toggle (the favourites chain included) leaves it here.
        QCOMPARE(run(new CRequestGetFavourite).code(), 0);
        QTRY_VERIFY(!FavouriteService::instance()->isBusy());
        QVERIFY(serviceCopy(confidential.file_hash()).isEmpty());
        for (const char *name : {"service.db", "service.db-wal"}) {
            QFile db(QString(ZORVEL_TEST_SERVICE_DATA "/") + name);
            if (db.open(QIODevice::ReadOnly))
                QVERIFY2(!db.readAll().contains(secret.toUtf8()), name);
        }
        QVERIFY(HistoryQueries::exists(confidential.file_hash(), "favourite"));
    }
};

ZORVEL_TEST_MAIN(TestAccountTab)
#include "tst_AccountTab.moc"
