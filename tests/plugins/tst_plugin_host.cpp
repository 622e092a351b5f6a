// PluginHost with the real runner process: the bundled samples end to end,
// hostile packages (hangs at load and inside library calls, budget escapes,
// memory across plugins, openURL abuse, id collisions), the watchdog and the
// runner's confinement. Then the plugin window over them: installing through the
// file dialog (answered by a test hook), removing, disabling after failures,
// help and close, and its making on first use.
#include "PackageBuilder.h"
#include "support/TestMain.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/clipUtils.h"
#include "platform/DesktopOpener.h"
#include "plugins/PluginHost.h"
#include "plugins/PluginRunner.h"
#include "plugins/PluginUrlPolicy.h"
#include "plugins/pluginWindow.h"

#include <QDeadlineTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

class TestPluginHost : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_packages;
    QList<QUrl> m_opened;
    QStringList m_questions;
    QStringList m_notices;
    bool m_answer = false;
    QStringList m_dialogCalls; // the filter of each file dialog opened over the window
    QStringList m_dialogAnswer;
    int m_packageCount = 0;

    static PluginHost *host() { return PluginHost::instance(); }
    QString package(const QString &name) const { return m_packages.filePath(name); }
    // A package file of its own for every call, so that one id can come in several versions.
    QString packageOf(const QByteArray &id, const QByteArray &more = {}, const QByteArray &runBody = "return text")
    {
        const QString path = package(id + QString::number(++m_packageCount) + ".cpk");
        return writePlugin(path, id, runBody, more) ? path : QString();
    }

    // Installs and waits for the outcome.
    bool installWait(const QString &path)
    {
        QSignalSpy done(host(), &PluginHost::installFinished);
        host()->install(path);
        if (!done.wait(10000) && done.isEmpty())
            return false;
        return done.first().at(1).toBool();
    }

    PluginObject installed(const QByteArray &id, const QByteArray &runBody, const QByteArray &more = QByteArray())
    {
        const QString path = package(id + ".cpk");
        if (!writePlugin(path, id, runBody, more) || !installWait(path))
            return PluginObject();
        return find(QString::fromUtf8(id));
    }

    static PluginObject find(const QString &id)
    {
        const QList<PluginObject> all = host()->plugins();
        const auto it = std::find_if(all.begin(), all.end(), [&id](const PluginObject &p) { return p.id == id; });
        return it == all.end() ? PluginObject() : *it;
    }

    // Runs and waits for the result; "<none>" when none came.
    QString run(const QString &text, const PluginObject &plugin)
    {
        bool got = false;
        QString out;
        host()->execute(text, plugin, this, [&](const QString &result) {
            got = true;
            out = result;
        });
        QDeadlineTimer deadline(15000);
        while (!got && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return got ? out : QString("<none>");
    }

    static pluginWindow *window() { return pluginWindow::instance(); }
    static QTableWidget *table() { return window()->findChild<QTableWidget *>("tableWidget"); }
    static QPushButton *button(const char *name) { return window()->findChild<QPushButton *>(name); }

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
    void initTestCase() { QVERIFY(host()->plugins().isEmpty()); }

    // The host's questions and notices are answered here; the window's functions
    // hand them to the window.
    void init()
    {
        m_opened.clear();
        m_questions.clear();
        m_notices.clear();
        m_answer = false;
        m_dialogCalls.clear();
        m_dialogAnswer.clear();
        host()->setDialogs(
            [this](const QString &question, std::function<void(bool)> answer) {
                m_questions << question;
                answer(m_answer);
            },
            [this](const QString &message) { m_notices << message; });
        DesktopOpener::setTestHook([this](const QUrl &url) {
            m_opened.append(url);
            return true;
        });
        pluginWindow::setFileDialogForTests([this](QWidget *parent, const QString &caption, const QString &dir,
                                                   const QString &filter) {
            m_dialogCalls << (parent == window() && caption.isEmpty() && dir.isEmpty() ? filter : "unexpected");
            return m_dialogAnswer;
        });
    }

    void cleanup()
    {
        QTRY_VERIFY_WITH_TIMEOUT(host()->idle(), 10000);
        DesktopOpener::setTestHook({});
        pluginWindow::setFileDialogForTests({});
        clipUtils::settings()->remove(QLatin1String(Zorvel::Key::Developer));
        for (const PluginObject &p : host()->plugins())
            host()->remove(p);
        QVERIFY(host()->plugins().isEmpty());
        QVERIFY(QDir(CFileManager::tmpPath()).isEmpty());
        clipUtils::settings()->remove(QLatin1String(Zorvel::Key::SamplePluginsInstalled));
    }

    void samplesInstallOnFirstStartOnly()
    {
        QSignalSpy changes(host(), &PluginHost::pluginsChanged);
        host()->installSamplesOnFirstStart();
        QTRY_VERIFY_WITH_TIMEOUT(host()->idle(), 10000);
        const QList<PluginObject> samples = host()->plugins();
        QVERIFY(samples.size() >= 5);
        QCOMPARE(changes.count(), samples.size());
        host()->remove(samples.first());
        QSignalSpy installs(host(), &PluginHost::installFinished);
        host()->installSamplesOnFirstStart();
        QTRY_VERIFY_WITH_TIMEOUT(host()->idle(), 10000);
        QCOMPARE(installs.count(), 0);
        QCOMPARE(host()->plugins().size(), samples.size() - 1);
    }

    void samplesTransformText_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("opened");
        const auto row = [](const char *name, const char *id, const QString &in, const QString &out, const char *opened = "") {
            QTest::newRow(name) << QString(id) << in << out << QString(opened);
        };
        row("trim", "trim_space", "  a  \t b\u3000\u3000c  \r\n\r\n\r\n\n  d \u00a0", "a b c\n\nd");
        row("full to half", "fullwidth_to_halfwidth", "ＡＢＣ　１２３！＠中文。", "ABC 123!@中文。");
        row("half to full", "halfwidth_to_fullwidth", "Ab 1!\n中", "Ａｂ　１！\n中");
        row("url decode", "url_decode", "%E4%B8%AD%E6%96%87+a%2fb%zz", "中文+a/b%zz");
        row("url encode", "url_encode", "a b/中-_.~", "a%20b%2F%E4%B8%AD-_.~");
        row("json", "json_format", "{\"a\":[1,-2.5e+3,{\"b\":null}], \"c\":\"x\\\"y\",\"d\":{},\"e\":[ ]}",
            "{\n  \"a\": [\n    1,\n    -2.5e+3,\n    {\n      \"b\": null\n    }\n  ],\n  \"c\": \"x\\\"y\",\n"
            "  \"d\": {},\n  \"e\": []\n}");
        row("not json", "json_format", "{\"a\": 01}", "{\"a\": 01}");
        row("spacing", "cjk_spacing", "使用Lua5.3编写的插件，共8个", "使用 Lua5.3 编写的插件，共 8 个");
        row("link in a sentence", "open_link", "看这里：https://example.com/路径，谢谢", "看这里：https://example.com/路径，谢谢",
            "https://example.com/路径");
        row("bare domain", "open_link", " example.org ", " example.org ", "http://example.org");
        row("mail address", "open_link", "someone@example.com", "someone@example.com", "mailto:someone@example.com");
        row("no link", "open_link", "just words", "just words");
    }

    void samplesTransformText()
    {
        QFETCH(QString, id);
        QFETCH(QString, input);
        QFETCH(QString, output);
        QFETCH(QString, opened);
        QVERIFY(installWait(PluginHost::samplesPath() + '/' + id + ".cpk"));
        m_answer = true;
        QCOMPARE(run(input, find(id)), output);
        QCOMPARE(m_questions.size(), opened.isEmpty() ? 0 : 1);
        if (!opened.isEmpty()) {
            QCOMPARE(m_opened, QList<QUrl>{QUrl(opened)});
            QVERIFY(m_questions.first().contains(QUrl(opened).toString(QUrl::FullyEncoded)));
        }
    }

    // Work a count hook cannot see: the watchdog stops it, the user is told, the
    // event loop runs meanwhile and the next plugin works in a new runner.
    void hangsReturnWithinTheWatchdog_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("backtracking pattern") << QByteArray("return tostring(('a'):rep(40):find(('a-'):rep(40) .. 'b'))");
        QTest::newRow("table.move to the end") << QByteArray("table.move({}, 1, math.maxinteger, 1, {}) return 'x'");
        QTest::newRow("sorting in C, over and over")
            << QByteArray("local t = {} for i = 1, 2e5 do t[i] = tostring(i) end while true do table.sort(t) end");
    }

    void hangsReturnWithinTheWatchdog()
    {
        QFETCH(QByteArray, body);
        const PluginObject hang = installed("hang", body);
        const PluginObject calm = installed("calm", "return 'calm ' .. text");
        QVERIFY(!hang.id.isEmpty() && !calm.id.isEmpty());
        bool got = false, loopRan = false;
        host()->execute(QString("x"), hang, this, [&](const QString &result) {
            got = true;
            QVERIFY(result.isEmpty());
        });
        QTimer::singleShot(10, this, [&] { loopRan = !got; });
        QTRY_VERIFY_WITH_TIMEOUT(got, 15000);
        QVERIFY(loopRan);
        QCOMPARE(m_notices.size(), 1);
        QVERIFY(m_notices.first().contains(hang.name));
        QCOMPARE(run("after", calm), QString("calm after"));
        QCOMPARE(find("hang").failures, 1);
    }

    void hangAtLoadIsRefused()
    {
        QVERIFY(PackageBuilder().file("plugin.lua", "local x = ('x'):rep(2^20):find('x*y')\n" + pluginScript("loadhang"))
                    .write(package("loadhang.cpk")));
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable("plugin " + package("loadhang.cpk") + " install error with return code : 7"));
        QVERIFY(!installWait(package("loadhang.cpk")));
        QCOMPARE(m_notices.size(), 1);
        QVERIFY(m_notices.first().contains("loadhang.cpk"));
        QVERIFY(host()->plugins().isEmpty());
        QVERIFY(!installWait(packageOf("Bad"))); // refused by the runner, not timed out
        QCOMPARE(run("x", installed("fine", "return 'fine'")), QString("fine"));
    }

    // 8 plugins that each keep 48 MiB, more than the runner's address space holds:
    // its shared budget makes idle plugins give theirs back.
    void memoryAcrossPluginsStaysInTheRunner()
    {
#ifndef __SANITIZE_ADDRESS__
        const QByteArray mib = "48";
#else // instrumented allocation is too slow to fill 48 MiB inside the watchdog's time
        const QByteArray mib = "4";
#endif
        for (int i = 0; i < 8; ++i) {
            const QByteArray id = "hog" + QByteArray::number(i);
            QCOMPARE(run(QString(), installed(id, "big = big or {} for i = 1, " + mib + " do"
                                                  " big[i] = string.rep(string.char(64 + i), 2^20) end"
                                                  " return 'holding'")),
                     QString("holding"));
        }
        QCOMPARE(run(QString(), find("hog0")), QString("holding"));
    }

    // One question per run, with the full address, never at load; refused
    // addresses are never offered.
    void openUrlNeedsTheUsersYes()
    {
        const PluginObject p = installed(
            "opener",
            "for i = 1, 100000 do app.openURL('https://example.com/' .. i) end"
            " app.openURL('http://127.0.0.1:631/') return text",
            "loaded = app.openURL('https://example.com/at-load'),");
        QVERIFY(m_questions.isEmpty());
        QCOMPARE(run("a", p), QString("a"));
        QCOMPARE(m_questions.size(), 1);
        QVERIFY(m_questions.first().contains("https://example.com/1\n"));
        QVERIFY(m_opened.isEmpty());
        m_answer = true;
        QCOMPARE(run("b", p), QString("b"));
        QCOMPARE(m_opened, QList<QUrl>{QUrl(QString("https://example.com/1"))});

        const PluginObject local = installed("local", "app.openURL(text) return ''");
        for (const char *address : {"http://169.254.169.254/latest/meta-data", "mailto:?attach=/etc/passwd&to=x@example.com"})
            run(address, local);
        QCOMPARE(m_questions.size(), 3);
        QVERIFY(!m_questions.last().contains("attach"));
        QCOMPARE(m_opened.size(), 2);
        QCOMPARE(m_opened.last(), QUrl(QString("mailto:?to=x@example.com")));
    }

    void urlPolicy_data()
    {
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<QByteArray>("opened"); // empty: refused
        QTest::newRow("Chinese path") << QByteArray("https://zh.wikipedia.org/wiki/剪贴板?q=中文")
                                      << QByteArray("https://zh.wikipedia.org/wiki/%E5%89%AA%E8%B4%B4%E6%9D%BF?q=%E4%B8%AD%E6%96%87");
        QTest::newRow("Chinese host") << QByteArray("https://例子.中国/") << QByteArray("https://xn--fsqu00a.xn--fiqs8s/");
        QTest::newRow("public address") << QByteArray("http://93.184.216.34/") << QByteArray("http://93.184.216.34/");
        QTest::newRow("mail, extras dropped")
            << QByteArray("mailto:a@example.com?subject=Hi&CC=b@example.com&attach=/etc/passwd&body=x")
            << QByteArray("mailto:a@example.com?subject=Hi&body=x");
        for (const char *refused :
             {"http://127.0.0.1:631/", "http://127.1/", "http://2130706433/", "http://0x7f.0.0.1/",
              "http://169.254.169.254/", "http://10.0.0.1/", "http://172.16.5.4/", "http://192.168.1.1/",
              "http://100.64.0.1/", "http://0.0.0.0/", "http://[::1]/", "http://[::ffff:127.0.0.1]/",
              "http://[fe80::1]/", "http://[fd00::1]/", "http://localhost:8080/", "http://printer.localhost/",
              "http://router/", "http://nas.local/", "http://user:pw@example.com/", "file:///etc/passwd",
              "javascript:alert(1)", "ftp://example.com/", "example.com", ""}) {
            QTest::newRow(refused) << QByteArray(refused) << QByteArray();
        }
        QTest::newRow("over 2 KiB") << "https://example.com/" + QByteArray(2100, 'a') << QByteArray();
    }

    void urlPolicy()
    {
        QFETCH(QByteArray, address);
        QFETCH(QByteArray, opened);
        QCOMPARE(PluginUrlPolicy::check(address).toEncoded(), opened);
    }

    // A package with an installed id (a bundled one included) replaces it only
    // after the user agrees (addInstallsEveryFileInOrder); the question names both versions.
    void idCollisionAsks()
    {
        QVERIFY(installWait(PluginHost::samplesPath() + QString("/trim_space.cpk")));
        const QString impostor = package("impostor.cpk");
        QVERIFY(writePlugin(impostor, "trim_space", "return 'taken over'", "version = '9.9',"));
        QVERIFY(!installWait(impostor));
        QCOMPARE(m_questions.size(), 1);
        QVERIFY(m_questions.first().contains("1.0") && m_questions.first().contains("9.9"));
        QCOMPARE(run(" a ", find("trim_space")), QString("a"));
    }

    void missingRunnerFailsEachRequest()
    {
        PluginRunner runner(QString("/nonexistent/zorvel-plugin-runner"));
        QTest::ignoreMessage(QtWarningMsg, "cannot start the plugin runner /nonexistent/zorvel-plugin-runner");
        int crashed = 0;
        for (int i = 0; i < 2; ++i)
            runner.request('R', {"id", "text"}, 1000, [&crashed](const PluginRunner::Reply &r) {
                crashed += r.outcome == PluginRunner::Reply::Crashed;
            });
        QTRY_COMPARE_WITH_TIMEOUT(crashed, 2, 10000);
        QVERIFY(runner.idle());
    }

    void runnerIsLockedDown()
    {
        QCOMPARE(run("x", installed("probe", "return text")), QString("x"));
        const qint64 pid = host()->runner()->processId();
        QVERIFY(pid > 0);
        const auto read = [pid](const char *name) {
            QFile file(QString("/proc/%1/%2").arg(pid).arg(name));
            return file.open(QIODevice::ReadOnly) ? file.readAll().simplified() : QByteArray();
        };
        QVERIFY(read("status").contains("Seccomp: 2") && read("status").contains("NoNewPrivs: 1"));
        for (const char *limit : {"Max file size 0 0 bytes", "Max core file size 0 0 bytes", "Max processes 0 0 processes",
                                  "Max cpu time 60 60 seconds"
#ifndef __SANITIZE_ADDRESS__
                                  , "Max address space 268435456 268435456 bytes"
#endif
             })
            QVERIFY2(read("limits").contains(limit), limit);
        QCOMPARE(QDir(QString("/proc/%1/fd").arg(pid)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList({"0", "1", "2"}));
    }

    // First, while nothing has made the window yet (as after start-up): a plugin's
    // question makes it, shows in it, and the answer reaches the plugin.
    void madeByAPluginsFirstQuestion()
    {
        pluginWindow::answerPluginsOnFirstUse();
        host()->install(packageOf("asker", QByteArray(), "app.openURL('https://example.com/asked') return text"));
        QTRY_COMPARE_WITH_TIMEOUT(host()->plugins().size(), 1, 10000);
        for (QWidget *w : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<pluginWindow *>(w));
        host()->execute(QStringLiteral("x"), host()->plugins().first(), this, [](const QString &) {});
        QTRY_VERIFY_WITH_TIMEOUT(openBox(), 10000);
        QVERIFY(openBox()->text().contains(QStringLiteral("https://example.com/asked")));
        QCOMPARE(openBox()->parentWidget(), window());
        openBox()->button(QMessageBox::Yes)->click();
        QCOMPARE(m_opened, QList<QUrl>{QUrl(QStringLiteral("https://example.com/asked"))});
    }

    void addInstallsEveryFileInOrder()
    {
        pluginWindow::answerPluginsOnFirstUse();
        QSignalSpy menuUpdates(host(), &PluginHost::pluginsChanged);
        button("button_add")->click(); // cancelled
        QCOMPARE(menuUpdates.count(), 0);
        // The same id twice: the window asks, naming both versions, and the later file wins.
        m_dialogAnswer = QStringList{packageOf("zeta", "version = '1.0',"), packageOf("alpha"), packageOf("zeta", "version = '2.0',")};
        button("button_add")->click();

        QCOMPARE(m_dialogCalls, QStringList({"*.cpk", "*.cpk"}));
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

    void deleteRemovesTheSelectedRow()
    {
        m_dialogAnswer = QStringList{packageOf("one"), packageOf("two"), packageOf("three")};
        button("button_add")->click();
        QTRY_COMPARE_WITH_TIMEOUT(table()->rowCount(), 3, 10000);
        QSignalSpy menuUpdates(host(), &PluginHost::pluginsChanged);

        table()->clearSelection();
        button("button_delete")->click();
        QCOMPARE(menuUpdates.count(), 0);
        QCOMPARE(table()->rowCount(), 3);

        // Rows follow the ids' order: one, three, two.
        table()->selectRow(1);
        button("button_delete")->click();
        QCOMPARE(menuUpdates.count(), 1);
        QCOMPARE(column(0), QStringList({"Plugin one", "Plugin two"}));
    }

    void failingPluginIsDisabledAndReEnabled()
    {
        pluginWindow::answerPluginsOnFirstUse();
        m_dialogAnswer = QStringList{packageOf("broken", {}, "if text == 'bad' then error('no') end return 'ok'")};
        button("button_add")->click();
        QTRY_COMPARE_WITH_TIMEOUT(table()->rowCount(), 1, 10000);
        const auto runAll = [this](const QStringList &texts) {
            QStringList results;
            for (const QString &text : texts)
                results << run(text, find("broken"));
            return results;
        };
        // A success in between starts the count of failures in a row again.
        QCOMPARE(runAll({"bad", "bad", "good", "bad", "bad"}), QStringList({"", "", "ok", "", ""}));
        QCOMPARE(column(4), QStringList{"可用"});
        QSignalSpy menuUpdates(host(), &PluginHost::pluginsChanged);
        QCOMPARE(runAll({"bad"}), QStringList{""});
        QCOMPARE(menuUpdates.count(), 1);
        QCOMPARE(runAll({"good"}), QStringList{""});
        QCOMPARE(column(4), QStringList{"已停用"});
        QVERIFY(openBox() && openBox()->text().contains("Plugin broken"));
        openBox()->close();
        QVERIFY(!openBox());

        table()->selectRow(0);
        button("button_enable")->click();
        QCOMPARE(column(4), QStringList{"可用"});
        QCOMPARE(host()->plugins().first().failures, 0);
        QCOMPARE(runAll({"good"}), QStringList{"ok"});
    }

    void helpOpensTheDeveloperPage()
    {
        clipUtils::settings()->setValue(QLatin1String(Zorvel::Key::Developer), QString("https://dev.example.org/插件"));
        button("button_help")->click();
        QCOMPARE(m_opened, QList<QUrl>{QUrl(QString("https://dev.example.org/插件?source=windows_client"))});
    }

    void closeOnlyHides()
    {
        window()->show();
        QVERIFY(QTest::qWaitForWindowExposed(window()));
        QVERIFY(!window()->close());
        QVERIFY(!window()->isVisible());
    }
};

ZORVEL_TEST_MAIN(TestPluginHost)
#include "tst_plugin_host.moc"
