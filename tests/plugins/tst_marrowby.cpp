// The plugin engine on its own: installation and its checks, loading, removal,
// the sandbox and the limits. Packages are real zip files written with libzip.
#include "PackageBuilder.h"
#include "support/TestMain.h"

#include <marrowby.h>

#include <QDirIterator>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

using Entries = QList<QPair<QString, QByteArray>>;

} // namespace

class TestMarrowby : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    clip_state *m_state = nullptr;

    QString pluginsDir() const { return m_root.filePath(QStringLiteral("Library/plugins")); }
    QString tmpDir() const { return m_root.filePath(QStringLiteral("Library/tmp")); }
    QString package(const QString &name) const { return m_root.filePath(QStringLiteral("packages/") + name); }

    clip_state *startEngine() const
    {
        clip_state *state = new_clip_state();
        init_with_path(QFile::encodeName(pluginsDir()).constData(), QFile::encodeName(tmpDir()).constData(), state);
        load_plugins(state);
        return state;
    }

    int install(const QString &path) { return install_plugin(path.toUtf8().constData(), m_state); }

    QString run(int index, const QByteArray &text)
    {
        const char *out = plugin_execute_text(plugin_at(m_state, index), text.constData());
        return out ? QString::fromUtf8(out) : QStringLiteral("<null>");
    }

    // Every file and folder under the test root except the input packages.
    QStringList snapshot() const
    {
        QStringList all;
        QDirIterator it(m_root.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!path.startsWith(m_root.filePath(QStringLiteral("packages"))))
                all << path;
        }
        all.sort();
        return all;
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_root.isValid());
        QDir(m_root.path()).mkpath(QStringLiteral("packages"));
        m_state = startEngine();
        QVERIFY(m_state);
        QCOMPARE(plugin_count(m_state), 0);
    }

    void cleanup()
    {
        free_clip_state(m_state);
        m_state = nullptr;
        QDir(pluginsDir()).removeRecursively();
        QDir(tmpDir()).removeRecursively();
    }

    void installsListsRunsAndReloads()
    {
        QVERIFY(PackageBuilder()
                    .file(QStringLiteral("plugin.lua"),
                          "local util = require('lib.util')\n"
                          "return { id = 'shout', name = '大声', description = '转成大写', version = 2,"
                          " author = 'me', homepage = 'https://example.org', run = util.shout }\n")
                    .file(QStringLiteral("lib/util.lua"), "return { shout = function(t) return t:upper() .. '!' end }")
                    .file(QStringLiteral("data/words.txt"), "unused data file")
                    .write(package(QStringLiteral("shout.cpk"))));
        QVERIFY(writePlugin(package(QStringLiteral("echo.cpk")), "echo"));
        QCOMPARE(install(package(QStringLiteral("shout.cpk"))), int(MARROWBY_OK));
        QCOMPARE(install(package(QStringLiteral("echo.cpk"))), int(MARROWBY_OK));

        // Ordered by id, whatever the install order.
        QCOMPARE(plugin_count(m_state), 2);
        QCOMPARE(plugin_at(m_state, 0)->id, "echo");
        const clip_plugin *shout = plugin_at(m_state, 1);
        QCOMPARE(QString::fromUtf8(shout->name), QStringLiteral("大声"));
        QCOMPARE(QString::fromUtf8(shout->description), QStringLiteral("转成大写"));
        QCOMPARE(shout->version, "2");
        QCOMPARE(shout->author, "me");
        QCOMPARE(shout->extra, "https://example.org");
        QVERIFY(!plugin_at(m_state, 2));
        QVERIFY(!plugin_at(m_state, -1));
        QCOMPARE(run(1, "abc"), QStringLiteral("ABC!"));
        QVERIFY(QFile::exists(pluginsDir() + QStringLiteral("/shout/data/words.txt")));
        QVERIFY(QDir(tmpDir()).isEmpty());

        // A new engine finds both in the plugins folder.
        clip_state *second = startEngine();
        QCOMPARE(plugin_count(second), 2);
        const char *out = plugin_execute_text(plugin_at(second, 1), "x");
        QCOMPARE(out, "X!");
        free_clip_state(second);
    }

    void reinstallReplacesTheOldVersion()
    {
        QVERIFY(PackageBuilder()
                    .file(QStringLiteral("plugin.lua"), pluginScript("tool", "return 'v1'"))
                    .file(QStringLiteral("old-only.txt"), "x")
                    .write(package(QStringLiteral("v1.cpk"))));
        QVERIFY(writePlugin(package(QStringLiteral("v2.cpk")), "tool", "return 'v2'", "version = '2.0',"));
        QCOMPARE(install(package(QStringLiteral("v1.cpk"))), int(MARROWBY_OK));
        clip_plugin *old = plugin_at(m_state, 0);
        QCOMPARE(install(package(QStringLiteral("v2.cpk"))), int(MARROWBY_OK));

        QCOMPARE(plugin_count(m_state), 1);
        QCOMPARE(run(0, ""), QStringLiteral("v2"));
        QCOMPARE(plugin_at(m_state, 0)->version, "2.0");
        QVERIFY(!QFile::exists(pluginsDir() + QStringLiteral("/tool/old-only.txt")));
        QVERIFY(QDir(tmpDir()).isEmpty());
        // A handle kept from before the reinstall is recognised, not dereferenced.
        QVERIFY(!plugin_execute_text(old, "x"));
    }

    void removeDeletesThePlugin()
    {
        QVERIFY(writePlugin(package(QStringLiteral("a.cpk")), "a"));
        QVERIFY(writePlugin(package(QStringLiteral("b.cpk")), "b"));
        QCOMPARE(install(package(QStringLiteral("a.cpk"))), int(MARROWBY_OK));
        QCOMPARE(install(package(QStringLiteral("b.cpk"))), int(MARROWBY_OK));
        clip_plugin *a = plugin_at(m_state, 0);

        QCOMPARE(remove_plugin("a", m_state), int(MARROWBY_OK));
        QCOMPARE(plugin_count(m_state), 1);
        QCOMPARE(plugin_at(m_state, 0)->id, "b");
        QVERIFY(!QDir(pluginsDir() + QStringLiteral("/a")).exists());
        QVERIFY(!plugin_execute_text(a, "x"));
        QCOMPARE(remove_plugin("a", m_state), int(MARROWBY_E_NOT_FOUND));
        QCOMPARE(remove_plugin("../Library", m_state), int(MARROWBY_E_BAD_ID));
        QCOMPARE(remove_plugin("..", m_state), int(MARROWBY_E_BAD_ID));
        QVERIFY(QDir(pluginsDir()).exists());
        QVERIFY(QDir(tmpDir()).isEmpty());

        // A plugin folder linked in by hand: removal drops the link only.
        const QString outside = m_root.filePath(QStringLiteral("outside"));
        QDir().mkpath(outside);
        QFile script(outside + QStringLiteral("/plugin.lua"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(pluginScript("linked"));
        script.close();
        QVERIFY(QFile::link(outside, pluginsDir() + QStringLiteral("/linked")));
        QCOMPARE(load_plugins(m_state), 2);
        QCOMPARE(remove_plugin("linked", m_state), int(MARROWBY_OK));
        QVERIFY(QFile::exists(outside + QStringLiteral("/plugin.lua")));
        QVERIFY(!QFileInfo::exists(pluginsDir() + QStringLiteral("/linked")));
    }

    void badPackagesAreRefused_data()
    {
        QTest::addColumn<Entries>("entries");
        QTest::addColumn<int>("code");
        const QByteArray good = pluginScript("fine");
        const QString absolute = QStringLiteral("/tmp/zorvel-evil-%1.txt").arg(getpid());

        QTest::newRow("parent entry") << Entries{{"plugin.lua", good}, {"../evil.txt", "x"}}
                                      << int(MARROWBY_E_UNSAFE_PATH);
        QTest::newRow("nested parent") << Entries{{"plugin.lua", good}, {"data/../../../evil.txt", "x"}}
                                       << int(MARROWBY_E_UNSAFE_PATH);
        QTest::newRow("absolute entry") << Entries{{"plugin.lua", good}, {absolute, "x"}}
                                        << int(MARROWBY_E_UNSAFE_PATH);
        QTest::newRow("backslash entry") << Entries{{"plugin.lua", good}, {"..\\evil.txt", "x"}}
                                         << int(MARROWBY_E_UNSAFE_PATH);
        QTest::newRow("missing plugin.lua") << Entries{{"main.lua", good}} << int(MARROWBY_E_NO_SCRIPT);
        QTest::newRow("plugin.lua in a folder") << Entries{{"sub/plugin.lua", good}} << int(MARROWBY_E_NO_SCRIPT);
        QTest::newRow("syntax error") << Entries{{"plugin.lua", "return { id = "}} << int(MARROWBY_E_BAD_SCRIPT);
        QTest::newRow("bytecode") << Entries{{"plugin.lua", QByteArray("\x1bLuaS\x00\x19\x93\r\n\x1a\n", 12)}}
                                  << int(MARROWBY_E_BAD_SCRIPT);
        QTest::newRow("returns no table") << Entries{{"plugin.lua", "return 42"}} << int(MARROWBY_E_BAD_SCRIPT);
        QTest::newRow("no run function") << Entries{{"plugin.lua", "return { id = 'x', name = 'x' }"}}
                                         << int(MARROWBY_E_BAD_SCRIPT);
        QTest::newRow("no name") << Entries{{"plugin.lua", "return { id = 'x', run = print }"}}
                                 << int(MARROWBY_E_BAD_SCRIPT);
        QTest::newRow("fails while loading") << Entries{{"plugin.lua", "error('broken')"}}
                                             << int(MARROWBY_E_BAD_SCRIPT);
        QTest::newRow("missing module") << Entries{{"plugin.lua", "require('absent') " + good}}
                                        << int(MARROWBY_E_BAD_SCRIPT);
        QTest::newRow("upper-case id") << Entries{{"plugin.lua", pluginScript("Bad")}} << int(MARROWBY_E_BAD_ID);
        QTest::newRow("id ..") << Entries{{"plugin.lua", pluginScript("..")}} << int(MARROWBY_E_BAD_ID);
        QTest::newRow("id with slash") << Entries{{"plugin.lua", pluginScript("a/b")}} << int(MARROWBY_E_BAD_ID);
        QTest::newRow("id too long") << Entries{{"plugin.lua", pluginScript(QByteArray(65, 'a'))}}
                                     << int(MARROWBY_E_BAD_ID);
        QTest::newRow("no id") << Entries{{"plugin.lua", "return { name = 'x', run = print }"}}
                               << int(MARROWBY_E_BAD_ID);
        Entries many{{"plugin.lua", good}};
        for (int i = 0; i < MARROWBY_MAX_ENTRIES; ++i)
            many.append({QStringLiteral("data/%1.txt").arg(i), "x"});
        QTest::newRow("too many entries") << many << int(MARROWBY_E_TOO_MANY);
        QTest::newRow("unpacks too large")
            << Entries{{"plugin.lua", good}, {"zeros.bin", QByteArray(MARROWBY_MAX_UNPACKED_BYTES + 1, '\0')}}
            << int(MARROWBY_E_TOO_LARGE);
    }

    void badPackagesAreRefused()
    {
        QFETCH(Entries, entries);
        QFETCH(int, code);
        QVERIFY(writePlugin(package(QStringLiteral("installed.cpk")), "installed"));
        QCOMPARE(install(package(QStringLiteral("installed.cpk"))), int(MARROWBY_OK));
        const QStringList before = snapshot();

        PackageBuilder builder;
        for (const auto &entry : entries)
            builder.file(entry.first, entry.second);
        QVERIFY(builder.write(package(QStringLiteral("bad.cpk"))));
        QCOMPARE(install(package(QStringLiteral("bad.cpk"))), code);

        QVERIFY(*plugin_last_error(m_state));
        QCOMPARE(snapshot(), before);
        QCOMPARE(plugin_count(m_state), 1);
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/zorvel-evil-%1.txt").arg(getpid())));
    }

    void unreadablePackagesAreRefused()
    {
        const QStringList before = snapshot();
        QCOMPARE(install(package(QStringLiteral("absent.cpk"))), int(MARROWBY_E_OPEN));
        QFile text(package(QStringLiteral("text.cpk")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("plugin.lua\nreturn {}\n");
        text.close();
        QCOMPARE(install(text.fileName()), int(MARROWBY_E_OPEN));

        // Random bytes, stored: the archive itself is over the bound.
        QByteArray noise(int(MARROWBY_MAX_ARCHIVE_BYTES), '\0');
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        QVERIFY(PackageBuilder()
                    .file(QStringLiteral("plugin.lua"), pluginScript("big"))
                    .file(QStringLiteral("noise.bin"), noise, true)
                    .write(package(QStringLiteral("big.cpk"))));
        QCOMPARE(install(package(QStringLiteral("big.cpk"))), int(MARROWBY_E_TOO_LARGE));

        QVERIFY(PackageBuilder()
                    .file(QStringLiteral("plugin.lua"), pluginScript("linked"))
                    .symlink(QStringLiteral("passwd"), "/etc/passwd")
                    .write(package(QStringLiteral("link.cpk"))));
        QCOMPARE(install(package(QStringLiteral("link.cpk"))), int(MARROWBY_E_UNSAFE_PATH));
        QCOMPARE(snapshot(), before);
        QCOMPARE(install_plugin("x.cpk", nullptr), int(MARROWBY_E_STATE));
    }

    void loadSkipsBrokenFoldersAndClearsStaging()
    {
        QVERIFY(writePlugin(package(QStringLiteral("good.cpk")), "good"));
        QCOMPARE(install(package(QStringLiteral("good.cpk"))), int(MARROWBY_OK));
        // Hand-made folders: an id that does not match its folder, and a broken script.
        QDir(pluginsDir()).mkpath(QStringLiteral("liar"));
        QFile liar(pluginsDir() + QStringLiteral("/liar/plugin.lua"));
        QVERIFY(liar.open(QIODevice::WriteOnly));
        liar.write(pluginScript("good"));
        liar.close();
        QDir(pluginsDir()).mkpath(QStringLiteral("broken"));
        QDir(tmpDir()).mkpath(QStringLiteral("marrowby-new-left"));

        clip_state *second = startEngine();
        QCOMPARE(plugin_count(second), 1);
        QCOMPARE(plugin_at(second, 0)->id, "good");
        QVERIFY(*plugin_last_error(second));
        QVERIFY(QDir(tmpDir()).isEmpty());
        free_clip_state(second);
    }

    void resultsAndFailures()
    {
        QVERIFY(writePlugin(package(QStringLiteral("r.cpk")), "r",
                            "if text == 'nil' then return nil elseif text == 'num' then return 42"
                            " elseif text == 'table' then return {} elseif text == 'error' then error('bad ' .. text)"
                            " end return '<' .. text .. '>'"));
        QCOMPARE(install(package(QStringLiteral("r.cpk"))), int(MARROWBY_OK));
        QCOMPARE(run(0, "中文"), QStringLiteral("<中文>"));
        QCOMPARE(run(0, ""), QStringLiteral("<>"));
        QCOMPARE(run(0, "nil"), QStringLiteral("<null>"));
        QCOMPARE(plugin_last_error(m_state), "");
        QCOMPARE(run(0, "num"), QStringLiteral("42"));
        QCOMPARE(run(0, "table"), QStringLiteral("<null>"));
        QVERIFY(QByteArray(plugin_last_error(m_state)).contains("table"));
        QCOMPARE(run(0, "error"), QStringLiteral("<null>"));
        QVERIFY(QByteArray(plugin_last_error(m_state)).contains("bad error"));
        QCOMPARE(run(0, "again"), QStringLiteral("<again>"));
        QVERIFY(!plugin_execute_text(nullptr, "x"));
    }

    void sandbox_data()
    {
        QTest::addColumn<QByteArray>("snippet");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QByteArray &snippet, const QString &expected) {
            QTest::newRow(name) << snippet << expected;
        };
        // Each attempt runs under pcall; "blocked" means it raised an error.
        const auto attempt = [&row](const char *name, const QByteArray &call) {
            row(name, "local ok = pcall(function() return " + call + " end) return ok and 'open' or 'blocked'",
                QStringLiteral("blocked"));
        };
        attempt("os.execute", "os.execute('touch /tmp/zorvel-sandbox-escape')");
        attempt("os.remove", "os.remove('/tmp/x')");
        attempt("os.getenv", "os.getenv('HOME')");
        attempt("io.open", "io.open('/etc/hostname')");
        attempt("io.popen", "io.popen('id')");
        attempt("dofile", "dofile('/etc/hostname')");
        attempt("loadfile", "loadfile('/etc/hostname')");
        attempt("C module", "require('native')");
        attempt("system C module", "require('socket.core')");
        attempt("path in require", "require('../../../etc/passwd')");
        attempt("package.loadlib", "package.loadlib('libc.so.6', '*')");
        attempt("debug", "debug.getregistry()");
        row("binary chunk", "return tostring(load('\\27LuaS\\0\\25\\147\\r\\n\\26\\n'))", "nil");
        row("mode b", "local f, err = load('return 1', 'x', 'b') return tostring(f) .. ' ' .. err",
            "nil binary chunks are not allowed");
        row("string.dump", "return tostring(string.dump)", "nil");
        row("text chunks load", "return load('return 1 + 1', 'x', 'bt')() .. ''", "2");
        row("load keeps env", "return load('return v', 'x', 't', { v = 'env' })()", "env");
        row("clock functions", "return type(os.time()) .. type(os.date('%Y')) .. type(os.clock())",
            "numberstringnumber");
        row("libraries",
            "return utf8.char(20013) .. string.upper('a') .. math.floor(2.5) .. table.concat({1, 2})"
            " .. coroutine.wrap(function() return 'c' end)()",
            QStringLiteral("中A212c"));
        row("Lua module", "return require('helper').value", "helped");
        row("print goes nowhere", "return tostring((print(('x'):rep(1000))))", "nil");
        row("empty repetitions", "return #string.rep('', math.maxinteger) .. #(''):rep(1e15, '')", "00");
        row("collectgarbage count only",
            "return type(collectgarbage('count')) .. tostring(pcall(collectgarbage, 'collect'))"
            " .. tostring(pcall(collectgarbage, 'step', 1e9))",
            "numberfalsefalse");
    }

    void sandbox()
    {
        QFETCH(QByteArray, snippet);
        QFETCH(QString, expected);
        QVERIFY(PackageBuilder()
                    .file(QStringLiteral("plugin.lua"), pluginScript("probe", "return load(text)()"))
                    .file(QStringLiteral("native.so"), "\x7f" "ELF not really")
                    .file(QStringLiteral("helper.lua"), "return { value = 'helped' }")
                    .write(package(QStringLiteral("probe.cpk"))));
        QCOMPARE(install(package(QStringLiteral("probe.cpk"))), int(MARROWBY_OK));
        QCOMPARE(run(0, snippet), expected);
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/zorvel-sandbox-escape")));
    }

    void runawayPluginsAreStopped_data()
    {
        QTest::addColumn<QByteArray>("code");
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("endless loop") << QByteArray("while true do end") << QByteArray("instruction limit");
        QTest::newRow("loop in a coroutine")
            << QByteArray("local co = coroutine.wrap(function() while true do end end) co()")
            << QByteArray("instruction limit");
        QTest::newRow("table bomb") << QByteArray("local t = {} for i = 1, 1e12 do t[i] = ('x'):rep(64) .. i end")
                                    << QByteArray("memory limit");
        QTest::newRow("string bomb") << QByteArray("local s = 'xx' while true do s = s .. s end")
                                     << QByteArray("memory limit");
        QTest::newRow("loop that catches the error")
            << QByteArray("while true do pcall(function() while true do end end) end")
            << QByteArray("instruction limit");
        // Each coroutine starts its own hook count; without a charge per creation
        // these would run 18 times the budget.
        QTest::newRow("two million tiny coroutines")
            << QByteArray("for i = 1, 2e6 do coroutine.wrap(function() end)() end")
            << QByteArray("instruction limit");
        // Lua calls the handler with hooks off: it would loop for ever.
        QTest::newRow("xpcall handler after the limit")
            << QByteArray("xpcall(function() while true do end end, function() while true do end end)")
            << QByteArray("instruction limit");
        QTest::newRow("collectgarbage loop") << QByteArray("while true do collectgarbage() end")
                                             << QByteArray("only \"count\"");
        QTest::newRow("bomb that catches the error")
            << QByteArray("while true do pcall(function() local t = {} for i = 1, 1e12 do t[i] = i end end) end")
            << QByteArray("instruction limit");
    }

    void runawayPluginsAreStopped()
    {
        QFETCH(QByteArray, code);
        QFETCH(QByteArray, reason);
        QVERIFY(writePlugin(package(QStringLiteral("runaway.cpk")), "runaway",
                            "if text == 'go' then " + code + " end return 'alive'"));
        QCOMPARE(install(package(QStringLiteral("runaway.cpk"))), int(MARROWBY_OK));
        QCOMPARE(run(0, "go"), QStringLiteral("<null>"));
        QVERIFY2(QByteArray(plugin_last_error(m_state)).contains(reason), plugin_last_error(m_state));
        // The plugin's state is rebuilt and it works again.
        QCOMPARE(run(0, "calm"), QStringLiteral("alive"));
    }

    void runawayAtLoadAndInFinalizers()
    {
        QVERIFY(PackageBuilder()
                    .file(QStringLiteral("plugin.lua"), "while true do end")
                    .write(package(QStringLiteral("spin.cpk"))));
        QCOMPARE(install(package(QStringLiteral("spin.cpk"))), int(MARROWBY_E_BAD_SCRIPT));
        QVERIFY(QByteArray(plugin_last_error(m_state)).contains("instruction limit"));

        // Lua runs finalizers with hooks off, so a looping one could never be
        // stopped: metatables with __gc are refused.
        QVERIFY(writePlugin(package(QStringLiteral("gc.cpk")), "gc",
                            "local ok = pcall(setmetatable, {}, { __gc = function() while true do end end })"
                            " local mt = {} local t = setmetatable({}, mt)"
                            " mt.__gc = function() while true do end end t = nil"
                            " return tostring(ok) .. tostring(pcall(collectgarbage))"));
        QCOMPARE(install(package(QStringLiteral("gc.cpk"))), int(MARROWBY_OK));
        QCOMPARE(run(0, ""), QStringLiteral("falsefalse"));
        QCOMPARE(remove_plugin("gc", m_state), int(MARROWBY_OK));
    }

    // The program stages and commits; only the runner loads plugin code.
    void stagedInstallInTwoSteps()
    {
        QVERIFY(writePlugin(package(QStringLiteral("two.cpk")), "two", "return 'v1'"));
        char staging[4096];
        QCOMPARE(stage_plugin(package(QStringLiteral("two.cpk")).toUtf8().constData(), m_state, staging,
                              sizeof staging),
                 int(MARROWBY_OK));
        QVERIFY(QByteArray(staging).startsWith(QFile::encodeName(tmpDir())));
        int code = -1;
        clip_plugin *probe = load_plugin_dir(m_state, staging, "", &code);
        QVERIFY(probe);
        QCOMPARE(probe->id, "two");
        QVERIFY(!load_plugin_dir(m_state, staging, "other", &code));
        QCOMPARE(code, int(MARROWBY_E_BAD_ID));
        // Only the engine's own staging folders move, and only under a valid id.
        QCOMPARE(commit_plugin(QFile::encodeName(pluginsDir()).constData(), "two", m_state), int(MARROWBY_E_STATE));
        QCOMPARE(commit_plugin((QByteArray(staging) + "../../x").constData(), "two", m_state), int(MARROWBY_E_STATE));
        QCOMPARE(commit_plugin(staging, "../two", m_state), int(MARROWBY_E_BAD_ID));
        QCOMPARE(commit_plugin(staging, "two", m_state), int(MARROWBY_OK));
        QVERIFY(QFile::exists(pluginsDir() + QStringLiteral("/two/plugin.lua")));

        // A second version replaces the first; a discarded one leaves nothing.
        QVERIFY(writePlugin(package(QStringLiteral("two.cpk")), "two", "return 'v2'"));
        QCOMPARE(stage_plugin(package(QStringLiteral("two.cpk")).toUtf8().constData(), m_state, staging,
                              sizeof staging),
                 int(MARROWBY_OK));
        discard_staged(staging, m_state);
        QVERIFY(QDir(tmpDir()).isEmpty());
        QCOMPARE(stage_plugin(package(QStringLiteral("two.cpk")).toUtf8().constData(), m_state, staging,
                              sizeof staging),
                 int(MARROWBY_OK));
        QCOMPARE(commit_plugin(staging, "two", m_state), int(MARROWBY_OK));
        QVERIFY(QDir(tmpDir()).isEmpty());
        clip_plugin *loaded = load_plugin_dir(m_state, QFile::encodeName(pluginsDir() + QStringLiteral("/two")).constData(),
                                              "two", nullptr);
        QVERIFY(loaded);
        QCOMPARE(plugin_execute_text(loaded, ""), "v2");
    }

};

ZORVEL_TEST_MAIN(TestMarrowby)
#include "tst_marrowby.moc"
