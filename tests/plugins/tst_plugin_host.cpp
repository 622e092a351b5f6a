// PluginHost with the real runner process: the bundled samples end to end,
// hostile packages (hangs at load and inside library calls, budget escapes,
// memory across plugins, print floods, openURL abuse, id collisions), the
// watchdog, disabling after failures, and the runner's confinement.
#include "LogCapture.h"
#include "PackageBuilder.h"
#include "support/TestMain.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/clipUtils.h"
#include "platform/DesktopOpener.h"
#include "plugins/PluginHost.h"
#include "plugins/PluginRunner.h"
#include "plugins/PluginUrlPolicy.h"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

qint64 statusKiB(qint64 pid, const QByteArray &field)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

class TestPluginHost : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_packages;
    std::unique_ptr<LogCapture> m_log;
    QList<QUrl> m_opened;
    QStringList m_questions;
    QStringList m_notices;
    bool m_answer = false;

    static PluginHost *host() { return PluginHost::instance(); }
    QString package(const QString &name) const { return m_packages.filePath(name); }

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

    // Everything under the data root, for "nothing written outside the plugin folder".
    static QStringList filesOutsidePlugins()
    {
        QStringList all;
        QDirIterator it(CFileManager::rootPath(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!path.startsWith(CFileManager::pluginsPath()) && !path.endsWith("plugins.json") && !path.endsWith("log.txt"))
                all << path;
        }
        return all;
    }

private Q_SLOTS:
    void initTestCase()
    {
        LogCapture log;
        QCOMPARE(PluginHost::instance(), host());
        QCOMPARE(LogCapture::lines().count(CFileManager::pluginsPath()), 1);
        QVERIFY(host()->plugins().isEmpty());
        host()->setDialogs(
            [this](const QString &question, std::function<void(bool)> answer) {
                m_questions << question;
                answer(m_answer);
            },
            [this](const QString &message) { m_notices << message; });
    }

    void init()
    {
        m_log.reset(new LogCapture);
        m_opened.clear();
        m_questions.clear();
        m_notices.clear();
        m_answer = false;
        DesktopOpener::setTestHook([this](const QUrl &url) {
            m_opened.append(url);
            return true;
        });
    }

    void cleanup()
    {
        QTRY_VERIFY_WITH_TIMEOUT(host()->idle(), 10000);
        DesktopOpener::setTestHook({});
        m_log.reset();
        for (const PluginObject &p : host()->plugins())
            host()->remove(p);
        QVERIFY(host()->plugins().isEmpty());
        QVERIFY(QDir(CFileManager::tmpPath()).isEmpty());
        QCOMPARE(filesOutsidePlugins(), QStringList());
        clipUtils::settings()->remove(QLatin1String(Zorvel::Key::SamplePluginsInstalled));
    }

    void samplesInstallOnFirstStartOnly()
    {
        QVERIFY(!PluginHost::samplesPath().isEmpty());
        QSignalSpy changes(host(), &PluginHost::pluginsChanged);
        host()->installSamplesOnFirstStart();
        QTRY_VERIFY_WITH_TIMEOUT(host()->idle(), 10000);
        const QList<PluginObject> samples = host()->plugins();
        QVERIFY2(samples.size() >= 5, qPrintable(LogCapture::lines().join('\n')));
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
        QTest::newRow("x* over a megabyte") << QByteArray("return tostring(('x'):rep(2^20):find('x*y'))");
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
        QVERIFY(!installWait(package("loadhang.cpk")));
        QCOMPARE(m_notices.size(), 1);
        QVERIFY(m_notices.first().contains("loadhang.cpk"));
        QVERIFY(LogCapture::lines().contains("plugin " + package("loadhang.cpk") + " install error with return code : 7"));
        QVERIFY(host()->plugins().isEmpty());
        QVERIFY(QDir(CFileManager::pluginsPath()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
        QCOMPARE(run("x", installed("fine", "return 'fine'")), QString("fine"));
    }

    // 8 plugins that each keep 48 MiB: the runner's shared budget makes idle
    // plugins give theirs back, and the program's own memory does not grow.
    void memoryAcrossPluginsStaysInTheRunner()
    {
        const qint64 before = statusKiB(QCoreApplication::applicationPid(), "VmRSS");
        QStringList results;
#ifndef __SANITIZE_ADDRESS__
        const QByteArray mib = "48";
#else // instrumented allocation is too slow to fill 48 MiB inside the watchdog's time
        const QByteArray mib = "4";
#endif
        for (int i = 0; i < 8; ++i) {
            const QByteArray id = "hog" + QByteArray::number(i);
            results << run(QString(), installed(id, "big = big or {} for i = 1, " + mib + " do"
                                                    " big[i] = string.rep(string.char(64 + i), 2^20) end"
                                                    " return 'holding'"));
        }
        QCOMPARE(results.count(QString("holding")), 8);
        const qint64 runner = host()->runner()->processId();
        QVERIFY(runner > 0);
#ifndef __SANITIZE_ADDRESS__ // the sanitizer's quarantine keeps freed memory resident
        QVERIFY(statusKiB(runner, "VmRSS") < 256 * 1024);
        QVERIFY(statusKiB(QCoreApplication::applicationPid(), "VmRSS") - before < 32 * 1024);
#else
        Q_UNUSED(before)
#endif
        QCOMPARE(run("x", installed("small", "return 'small'")), QString("small"));
        QCOMPARE(run(QString(), find("hog0")), QString("holding"));
    }

    void printFloodGoesNowhere()
    {
        const PluginObject p = installed("printer", "local s = ('p'):rep(65536) for i = 1, 1e5 do print(s, s) end return 'printed'");
        QCOMPARE(run(QString(), p), QString("printed"));
        QVERIFY(!LogCapture::anyContains("pppp"));
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
    // after the user agrees; the question names both versions.
    void idCollisionAsks()
    {
        QVERIFY(installWait(PluginHost::samplesPath() + QString("/trim_space.cpk")));
        const QString impostor = package("impostor.cpk");
        QVERIFY(writePlugin(impostor, "trim_space", "return 'taken over'", "version = '9.9',"));
        QVERIFY(!installWait(impostor));
        QCOMPARE(m_questions.size(), 1);
        QVERIFY(m_questions.first().contains("1.0") && m_questions.first().contains("9.9"));
        QCOMPARE(run(" a ", find("trim_space")), QString("a"));

        m_answer = true;
        QVERIFY(installWait(impostor));
        QCOMPARE(find("trim_space").version, QString("9.9"));
        QCOMPARE(run(" a ", find("trim_space")), QString("taken over"));
    }

    void missingRunnerFailsEachRequest()
    {
        PluginRunner runner(QString("/nonexistent/zorvel-plugin-runner"));
        int crashed = 0;
        for (int i = 0; i < 2; ++i)
            runner.request('R', {"id", "text"}, 1000, [&crashed](const PluginRunner::Reply &r) {
                crashed += r.outcome == PluginRunner::Reply::Crashed;
            });
        QTRY_COMPARE_WITH_TIMEOUT(crashed, 2, 10000);
        QVERIFY(runner.idle());
        QVERIFY(LogCapture::anyContains("cannot start the plugin runner"));
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
};

ZORVEL_TEST_MAIN(TestPluginHost)
#include "tst_plugin_host.moc"
