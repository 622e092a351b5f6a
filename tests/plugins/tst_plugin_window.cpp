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

#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QMenuBar>
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
    static QTableWidget *table() { return window()->findChild<QTableWidget *>(QStringLiteral("tableWidget")); }
    static QPushButton *button(const char *name) { return window()->findChild<QPushButton *>(QLatin1String(name)); }

    QString package(const QByteArray &id, const QByteArray &more = QByteArray(),
                    const QByteArray &runBody = "return text")
    {
        const QString path = m_packages.filePath(QString::fromUtf8(id) + QString::number(++m_packageCount)
                                                 + QStringLiteral(".cpk"));
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

    void widgetsAndTexts()
    {
        QCOMPARE(window()->windowTitle(), QStringLiteral("插件"));
        QCOMPARE(window()->minimumSize(), QSize(838, 528));
        QCOMPARE(window()->maximumSize(), QSize(838, 528));
        QCOMPARE(button("button_add")->text(), QStringLiteral("+"));
        QCOMPARE(button("button_delete")->text(), QStringLiteral("-"));
        QCOMPARE(button("button_help")->text(), QStringLiteral("帮助/下载"));
        QCOMPARE(window()->findChild<QLabel *>(QStringLiteral("label"))->text(), QStringLiteral("插件引擎:v1.2"));
        QMenuBar *menubar = window()->findChild<QMenuBar *>(QStringLiteral("menubar"));
        QVERIFY(menubar);
        QCOMPARE(window()->menuBar(), menubar);
        QVERIFY(menubar->actions().isEmpty());

        QTableWidget *t = table();
        QCOMPARE(button("button_enable")->text(), QStringLiteral("重新启用"));
        QCOMPARE(t->columnCount(), 5);
        const QStringList headers{QStringLiteral("名称"), QStringLiteral("描述"), QStringLiteral("版本"),
                                  QStringLiteral("作者"), QStringLiteral("状态")};
        for (int c = 0; c < 5; ++c) {
            QCOMPARE(t->horizontalHeaderItem(c)->text(), headers.at(c));
            QCOMPARE(t->horizontalHeader()->sectionResizeMode(c), QHeaderView::Stretch);
        }
        QCOMPARE(t->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(t->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(t->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(t->rowCount(), 0);
    }

    void addInstallsEveryFileInOrder()
    {
        QSignalSpy menuUpdates(PluginHost::instance(), &PluginHost::pluginsChanged);
        // The same id twice: the window asks, naming both versions, and the later file wins.
        m_dialogAnswer = QStringList{package("zeta", "version = '1.0',"), package("alpha"), package("zeta", "version = '2.0',")};
        button("button_add")->click();

        QCOMPARE(m_dialogCalls.size(), 1);
        QCOMPARE(m_dialogCalls.first().parent, window());
        QVERIFY(m_dialogCalls.first().caption.isEmpty());
        QVERIFY(m_dialogCalls.first().dir.isEmpty());
        QCOMPARE(m_dialogCalls.first().filter, QStringLiteral("*.cpk"));
        QTRY_VERIFY_WITH_TIMEOUT(openBox(), 10000);
        QVERIFY(openBox()->text().contains(QStringLiteral("1.0")) && openBox()->text().contains(QStringLiteral("2.0")));
        QCOMPARE(column(2), (QStringList{QStringLiteral("1.0"), QStringLiteral("1.0")}));
        openBox()->button(QMessageBox::Yes)->click();
        QTRY_COMPARE_WITH_TIMEOUT(column(2), (QStringList{QStringLiteral("1.0"), QStringLiteral("2.0")}), 10000);
        QCOMPARE(menuUpdates.count(), 3);
        QCOMPARE(column(0), (QStringList{QStringLiteral("Plugin alpha"), QStringLiteral("Plugin zeta")}));
        QCOMPARE(column(1), (QStringList{QStringLiteral("test plugin"), QStringLiteral("test plugin")}));
        QCOMPARE(column(2), (QStringList{QStringLiteral("1.0"), QStringLiteral("2.0")}));
        QCOMPARE(column(3), (QStringList{QStringLiteral("tester"), QStringLiteral("tester")}));
        QCOMPARE(table()->horizontalHeaderItem(0)->text(), QStringLiteral("名称"));
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
        QTRY_COMPARE_WITH_TIMEOUT(column(0), QStringList{QStringLiteral("Plugin good")}, 10000);
        QVERIFY(LogCapture::lines().contains(QStringLiteral("plugin %1 install error with return code : 8").arg(bad)));
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
        QCOMPARE(column(0), (QStringList{QStringLiteral("Plugin one"), QStringLiteral("Plugin two")}));
        QVERIFY(!QDir(CFileManager::pluginsPath() + QStringLiteral("three")).exists());
    }

    void failingPluginIsDisabledAndReEnabled()
    {
        m_dialogAnswer = QStringList{package("broken", QByteArray(), "error('no')")};
        button("button_add")->click();
        QTRY_COMPARE_WITH_TIMEOUT(table()->rowCount(), 1, 10000);
        QCOMPARE(column(4), QStringList{QStringLiteral("可用")});
        int answers = 0;
        for (int i = 0; i < PluginHost::FailuresToDisable; ++i)
            PluginHost::instance()->execute(QStringLiteral("x"), PluginHost::instance()->plugins().first(), this,
                                            [&answers](const QString &) { ++answers; });
        QTRY_COMPARE_WITH_TIMEOUT(answers, PluginHost::FailuresToDisable, 10000);
        QCOMPARE(column(4), QStringList{QStringLiteral("已停用")});
        QVERIFY(openBox() && openBox()->text().contains(QStringLiteral("Plugin broken")));
        openBox()->close();

        table()->selectRow(0);
        button("button_enable")->click();
        QCOMPARE(column(4), QStringList{QStringLiteral("可用")});
        QVERIFY(!PluginHost::instance()->plugins().first().disabled);
    }

    void helpOpensTheDeveloperPage()
    {
        button("button_help")->click();
        QCOMPARE(m_opened.size(), 1);
        QCOMPARE(m_opened.first().toString(), clipUtils::developerPageUrl());
        QCOMPARE(m_opened.first().port(), 8888);
        QCOMPARE(m_opened.first().path(), QStringLiteral("/vantor/developer.html"));
        QCOMPARE(m_opened.first().query(), QStringLiteral("source=windows_client"));

        clipUtils::settings()->setValue(QLatin1String(Zorvel::Key::Developer),
                                        QStringLiteral("https://dev.example.org/插件"));
        button("button_help")->click();
        QCOMPARE(m_opened.size(), 2);
        QCOMPARE(m_opened.last(), QUrl(QStringLiteral("https://dev.example.org/插件?source=windows_client")));
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
