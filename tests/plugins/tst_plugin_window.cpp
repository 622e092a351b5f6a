// The plugin window over the real host and engine: its widgets, installing
// through the file dialog (answered by a test hook), removing, help and close,
// and its making on first use.
#include "LogCapture.h"
#include "PackageBuilder.h"
#include "support/TestMain.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/clipUtils.h"
#include "platform/DesktopOpener.h"
#include "plugins/PluginHost.h"
#include "plugins/pluginWindow.h"

#include <QDeadlineTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestPluginWindow : public QObject
{
    Q_OBJECT

private:
    struct DialogCall {
        QWidget *parent;
        QString caption;
        QString dir;
        QString filter;
    };

    QTemporaryDir m_packages;
    std::unique_ptr<LogCapture> m_log;
    QList<QUrl> m_opened;
    QList<DialogCall> m_dialogCalls;
    QStringList m_dialogAnswer;
    int m_packageCount = 0;

    static pluginWindow *window() { return pluginWindow::instance(); }
    static QTableWidget *table() { return window()->findChild<QTableWidget *>("tableWidget"); }
    static QPushButton *button(const char *name) { return window()->findChild<QPushButton *>(name); }

    QString package(const QByteArray &id, const QByteArray &more = {}, const QByteArray &runBody = "return text")
    {
        const QString path = m_packages.filePath(id + QString::number(++m_packageCount) + ".cpk");
        return writePlugin(path, id, runBody, more) ? path : QString();
    }

    // The plugin question box the window shows, once it is up.
    static QMessageBox *openBox()
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (box && box->isVisible())
                return box;
        }
        return nullptr;
    }

    static QStringList column(int c)
    {
        QStringList texts;
        for (int row = 0; row < table()->rowCount(); ++row)
            texts << table()->item(row, c)->text();
        return texts;
    }

private Q_SLOTS:
    void init()
    {
        m_log.reset(new LogCapture);
        m_opened.clear();
        m_dialogCalls.clear();
        m_dialogAnswer.clear();
        DesktopOpener::setTestHook([this](const QUrl &url) {
            m_opened.append(url);
            return true;
        });
        pluginWindow::setFileDialogForTests(
            [this](QWidget *parent, const QString &caption, const QString &dir, const QString &filter) {
                m_dialogCalls.append({parent, caption, dir, filter});
                return m_dialogAnswer;
            });
    }

    void cleanup()
    {
        // Through the window itself, so its table is current for the next test.
        for (int guard = 0; table()->rowCount() > 0 && guard < 20; ++guard) {
            table()->selectRow(0);
            button("button_delete")->click();
        }
        QCOMPARE(table()->rowCount(), 0);
        QVERIFY(PluginHost::instance()->plugins().isEmpty());
        DesktopOpener::setTestHook({});
        pluginWindow::setFileDialogForTests({});
        clipUtils::settings()->remove(QLatin1String(Zorvel::Key::Developer));
        m_log.reset();
    }

    // First, while nothing has made the window yet (as after start-up): a plugin's
    // question makes it, shows in it, and the answer reaches the plugin.
    void madeByAPluginsFirstQuestion()
    {
        pluginWindow::answerPluginsOnFirstUse();
        PluginHost *host = PluginHost::instance();
        host->install(package("asker", QByteArray(), "app.openURL('https://example.com/asked') return text"));
        QTRY_COMPARE_WITH_TIMEOUT(host->plugins().size(), 1, 10000);
        for (QWidget *w : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<pluginWindow *>(w));
        host->execute(QStringLiteral("x"), host->plugins().first(), this, [](const QString &) {});
        QTRY_VERIFY_WITH_TIMEOUT(openBox(), 10000);
        QVERIFY(openBox()->text().contains(QStringLiteral("https://example.com/asked")));
        QCOMPARE(openBox()->parentWidget(), window());
        openBox()->button(QMessageBox::Yes)->click();
        QCOMPARE(m_opened, QList<QUrl>{QUrl(QStringLiteral("https://example.com/asked"))});
    }

    void addInstallsEveryFileInOrder()
    {
        QSignalSpy menuUpdates(PluginHost::instance(), &PluginHost::pluginsChanged);
        // The same id twice: the window asks, naming both versions, and the later file wins.
        m_dialogAnswer = QStringList{package("zeta", "version = '1.0',"), package("alpha"), package("zeta", "version = '2.0',")};
        button("button_add")->click();

        QCOMPARE(m_dialogCalls.size(), 1);
        const DialogCall call = m_dialogCalls.first();
        QVERIFY(call.parent == window() && call.caption.isEmpty() && call.dir.isEmpty() && call.filter == "*.cpk");
        QTRY_VERIFY_WITH_TIMEOUT(openBox(), 10000);
        QVERIFY(openBox()->text().contains(QString("1.0")) && openBox()->text().contains(QString("2.0")));
        QCOMPARE(column(2), QStringList({"1.0", "1.0"}));
        openBox()->button(QMessageBox::Yes)->click();
        QTRY_COMPARE_WITH_TIMEOUT(column(2), QStringList({"1.0", "2.0"}), 10000);
        QCOMPARE(menuUpdates.count(), 3);
        QCOMPARE(column(0) + column(1) + column(3),
                 QStringList({"Plugin alpha", "Plugin zeta", "test plugin", "test plugin", "tester", "tester"}));
        QStringList headers;
        for (int c = 0; c < table()->columnCount(); ++c)
            headers << table()->horizontalHeaderItem(c)->text();
        QCOMPARE(headers, QStringList({"名称", "描述", "版本", "作者", "状态"})); // set again on every refresh
    }

    void cancelInstallsNothing()
    {
        QSignalSpy menuUpdates(PluginHost::instance(), &PluginHost::pluginsChanged);
        button("button_add")->click();
        QCOMPARE(m_dialogCalls.size(), 1);
        QCOMPARE(menuUpdates.count(), 0);
        QCOMPARE(table()->rowCount(), 0);
        QVERIFY(QDir(CFileManager::pluginsPath()).isEmpty());
    }

    void refusedPackageStillRefreshes()
    {
        QSignalSpy menuUpdates(PluginHost::instance(), &PluginHost::pluginsChanged);
        const QString bad = package("Bad");
        m_dialogAnswer = QStringList{bad, package("good")};
        button("button_add")->click();
        QTRY_COMPARE_WITH_TIMEOUT(column(0), QStringList{"Plugin good"}, 10000);
        QVERIFY(LogCapture::lines().contains("plugin " + bad + " install error with return code : 8"));
        QCOMPARE(menuUpdates.count(), 1);
    }

    void deleteRemovesTheSelectedRow()
    {
        m_dialogAnswer = QStringList{package("one"), package("two"), package("three")};
        button("button_add")->click();
        QTRY_COMPARE_WITH_TIMEOUT(table()->rowCount(), 3, 10000);
        QSignalSpy menuUpdates(PluginHost::instance(), &PluginHost::pluginsChanged);

        table()->clearSelection();
        button("button_delete")->click();
        QCOMPARE(menuUpdates.count(), 0);
        QCOMPARE(table()->rowCount(), 3);

        // Rows follow the ids' order: one, three, two.
        table()->selectRow(1);
        button("button_delete")->click();
        QCOMPARE(menuUpdates.count(), 1);
        QCOMPARE(column(0), QStringList({"Plugin one", "Plugin two"}));
        QVERIFY(!QDir(CFileManager::pluginsPath() + QString("three")).exists());
    }

    void failingPluginIsDisabledAndReEnabled()
    {
        m_dialogAnswer = QStringList{package("broken", {}, "if text == 'bad' then error('no') end return 'ok'")};
        button("button_add")->click();
        QTRY_COMPARE_WITH_TIMEOUT(table()->rowCount(), 1, 10000);
        QStringList results;
        const auto run = [&](const QStringList &texts) {
            for (const QString &text : texts)
                PluginHost::instance()->execute(text, PluginHost::instance()->plugins().first(), this,
                                                [&results](const QString &result) { results << result; });
            for (QDeadlineTimer deadline(10000); results.size() < texts.size() && !deadline.hasExpired();)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            return std::exchange(results, {});
        };
        // A success in between starts the count of failures in a row again.
        QCOMPARE(run({"bad", "bad", "good", "bad", "bad"}), QStringList({"", "", "ok", "", ""}));
        QCOMPARE(column(4), QStringList{"可用"});
        QSignalSpy menuUpdates(PluginHost::instance(), &PluginHost::pluginsChanged);
        QCOMPARE(run({"bad"}), QStringList{""});
        QCOMPARE(menuUpdates.count(), 1);
        QCOMPARE(run({"good"}), QStringList{""});
        QCOMPARE(column(4), QStringList{"已停用"});
        QVERIFY(openBox() && openBox()->text().contains("Plugin broken"));
        openBox()->close();
        QVERIFY(!openBox());

        table()->selectRow(0);
        button("button_enable")->click();
        QCOMPARE(column(4), QStringList{"可用"});
        QCOMPARE(PluginHost::instance()->plugins().first().failures, 0);
        QCOMPARE(run({"good"}), QStringList{"ok"});
    }

    void helpOpensTheDeveloperPage()
    {
        button("button_help")->click();
        QCOMPARE(m_opened.size(), 1);
        QCOMPARE(m_opened.first().toString(), clipUtils::developerPageUrl());
        QCOMPARE(m_opened.first().port(), 8888);
        QCOMPARE(m_opened.first().path() + "?" + m_opened.first().query(), QString("/vantor/developer.html?source=windows_client"));

        clipUtils::settings()->setValue(QLatin1String(Zorvel::Key::Developer),
                                        QString("https://dev.example.org/插件"));
        button("button_help")->click();
        QCOMPARE(m_opened.size(), 2);
        QCOMPARE(m_opened.last(), QUrl(QString("https://dev.example.org/插件?source=windows_client")));
    }

    void closeOnlyHides()
    {
        pluginWindow *before = window();
        QPointer<pluginWindow> guard(before);
        before->show();
        QVERIFY(QTest::qWaitForWindowExposed(before));
        QVERIFY(!before->close());
        QVERIFY(!before->isVisible());
        QVERIFY(guard);
        QCOMPARE(window(), before);
        before->show();
        QVERIFY(before->isVisible());
        before->hide();
    }
};

ZORVEL_TEST_MAIN(TestPluginWindow)
#include "tst_plugin_window.moc"
