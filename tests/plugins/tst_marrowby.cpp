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

using Entries = QList<QPair<QString, QByteArray>>;

class TestMarrowby : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    clip_state *m_state = nullptr;

    QString pluginsDir() const { return m_root.filePath("Library/plugins"); }
    QString tmpDir() const { return m_root.filePath("Library/tmp"); }
    QString pkg(const QString &name) const { return m_root.filePath("packages/" + name + ".cpk"); }

    clip_state *startEngine() const
    {
        clip_state *state = new_clip_state();
        init_with_path(QFile::encodeName(pluginsDir()).constData(), QFile::encodeName(tmpDir()).constData(), state);
        load_plugins(state);
        return state;
    }

    int install(const QString &name) { return install_plugin(QFile::encodeName(pkg(name)).constData(), m_state); }
    int install(const QString &name, const PackageBuilder &package)
    {
        return package.write(pkg(name)) ? install(name) : -1;
    }
    int installScript(const QByteArray &id, const QByteArray &body = "return text", const QByteArray &more = {})
    {
        return writePlugin(pkg(id), id, body, more) ? install(id) : -1;
    }

    QString run(int index, const QByteArray &text)
    {
        const char *out = plugin_execute_text(plugin_at(m_state, index), text.constData());
        return out ? QString::fromUtf8(out) : "<null>";
    }
    QByteArray lastError() const { return plugin_last_error(m_state); }

    // Every file and folder under the test root except the input packages.
    QStringList snapshot() const
    {
        QStringList all;
        QDirIterator it(m_root.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!path.startsWith(m_root.filePath("packages")))
                all << path;
        }
        all.sort();
        return all;
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(QDir(m_root.path()).mkpath("packages"));
        m_state = startEngine();
        QCOMPARE(plugin_count(m_state), 0);
    }

    void cleanup()
    {
        free_clip_state(m_state);
        QDir(pluginsDir()).removeRecursively();
        QDir(tmpDir()).removeRecursively();
    }

    void installsListsRunsAndReplaces()
    {
        QCOMPARE(install("shout", PackageBuilder()
                                      .file("plugin.lua", "local util = require('lib.util')\n"
                                                          "return { id = 'shout', name = '大声', description = '转成大写',"
                                                          " version = 2, author = 'me', homepage = 'https://example.org',"
                                                          " run = util.shout }\n")
                                      .file("lib/util.lua", "return { shout = function(t) return t:upper() .. '!' end }")
                                      .file("data/words.txt", "unused data file")),
                 int(MARROWBY_OK));
        QCOMPARE(installScript("echo"), int(MARROWBY_OK));

        // Ordered by id, whatever the install order.
        QCOMPARE(plugin_count(m_state), 2);
        QCOMPARE(plugin_at(m_state, 0)->id, "echo");
        clip_plugin *shout = plugin_at(m_state, 1);
        QCOMPARE(QString::fromUtf8(shout->name) + QString::fromUtf8(shout->description), QString("大声转成大写"));
        QCOMPARE(QByteArray(shout->version) + shout->author + shout->extra, QByteArray("2mehttps://example.org"));
        QVERIFY(!plugin_at(m_state, 2) && !plugin_at(m_state, -1));
        QCOMPARE(run(1, "abc"), QString("ABC!"));
        QVERIFY(QFile::exists(pluginsDir() + "/shout/data/words.txt"));
        QVERIFY(QDir(tmpDir()).isEmpty());

        // A reinstall replaces the old version whole.
        QCOMPARE(installScript("shout", "return 'v2'", "version = '2.0',"), int(MARROWBY_OK));
        QCOMPARE(plugin_count(m_state), 2);
        QCOMPARE(run(1, ""), QString("v2"));
        QCOMPARE(plugin_at(m_state, 1)->version, "2.0");
        QVERIFY(!QFile::exists(pluginsDir() + "/shout/data/words.txt"));
        QVERIFY(QDir(tmpDir()).isEmpty());
        // A handle kept from before the reinstall is recognised, not dereferenced.
        QVERIFY(!plugin_execute_text(shout, "x"));
    }

    void removeDeletesThePlugin()
    {
        QCOMPARE(installScript("a"), int(MARROWBY_OK));
        QCOMPARE(installScript("b"), int(MARROWBY_OK));
        clip_plugin *a = plugin_at(m_state, 0);
        QCOMPARE(remove_plugin("a", m_state), int(MARROWBY_OK));
        QCOMPARE(plugin_count(m_state), 1);
        QCOMPARE(plugin_at(m_state, 0)->id, "b");
        QVERIFY(!QDir(pluginsDir() + "/a").exists());
        QVERIFY(!plugin_execute_text(a, "x"));
        QCOMPARE(remove_plugin("a", m_state), int(MARROWBY_E_NOT_FOUND));
        QCOMPARE(remove_plugin("../Library", m_state), int(MARROWBY_E_BAD_ID));
        QCOMPARE(remove_plugin("..", m_state), int(MARROWBY_E_BAD_ID));
        QVERIFY(QDir(pluginsDir()).exists());

        // A plugin folder linked in by hand: removal drops the link only.
        const QString outside = m_root.filePath("outside");
        QVERIFY(QDir().mkpath(outside));
        QFile script(outside + "/plugin.lua");
        QVERIFY(script.open(QIODevice::WriteOnly) && script.write(pluginScript("linked")) > 0);
        script.close();
        QVERIFY(QFile::link(outside, pluginsDir() + "/linked"));
        QCOMPARE(load_plugins(m_state), 2);
        QCOMPARE(remove_plugin("linked", m_state), int(MARROWBY_OK));
        QVERIFY(QFile::exists(outside + "/plugin.lua"));
        QVERIFY(!QFileInfo::exists(pluginsDir() + "/linked"));
    }

    void badPackagesAreRefused_data()
    {
        QTest::addColumn<Entries>("entries");
        QTest::addColumn<int>("code");
        const QByteArray good = pluginScript("fine");
        const auto row = [](const char *name, const Entries &entries, int code) { QTest::newRow(name) << entries << code; };
        const auto script = [&row](const char *name, const QByteArray &text, int code) { row(name, {{"plugin.lua", text}}, code); };
        row("parent entry", {{"plugin.lua", good}, {"../evil.txt", "x"}}, MARROWBY_E_UNSAFE_PATH);
        row("nested parent", {{"plugin.lua", good}, {"data/../../../evil.txt", "x"}}, MARROWBY_E_UNSAFE_PATH);
        row("absolute entry", {{"plugin.lua", good}, {QString("/tmp/zorvel-evil-%1.txt").arg(getpid()), "x"}},
            MARROWBY_E_UNSAFE_PATH);
        row("backslash entry", {{"plugin.lua", good}, {"..\\evil.txt", "x"}}, MARROWBY_E_UNSAFE_PATH);
        row("missing plugin.lua", {{"main.lua", good}}, MARROWBY_E_NO_SCRIPT);
        row("plugin.lua in a folder", {{"sub/plugin.lua", good}}, MARROWBY_E_NO_SCRIPT);
        script("syntax error", "return { id = ", MARROWBY_E_BAD_SCRIPT);
        script("bytecode", QByteArray("\x1bLuaS\x00\x19\x93\r\n\x1a\n", 12), MARROWBY_E_BAD_SCRIPT);
        script("returns no table", "return 42", MARROWBY_E_BAD_SCRIPT);
        script("no run function", "return { id = 'x', name = 'x' }", MARROWBY_E_BAD_SCRIPT);
        script("no name", "return { id = 'x', run = print }", MARROWBY_E_BAD_SCRIPT);
        script("fails while loading", "error('broken')", MARROWBY_E_BAD_SCRIPT);
        script("missing module", "require('absent') " + good, MARROWBY_E_BAD_SCRIPT);
        script("upper-case id", pluginScript("Bad"), MARROWBY_E_BAD_ID);
        script("id ..", pluginScript(".."), MARROWBY_E_BAD_ID);
        script("id with slash", pluginScript("a/b"), MARROWBY_E_BAD_ID);
        script("id too long", pluginScript(QByteArray(65, 'a')), MARROWBY_E_BAD_ID);
        script("no id", "return { name = 'x', run = print }", MARROWBY_E_BAD_ID);
        Entries many{{"plugin.lua", good}};
        for (int i = 0; i < MARROWBY_MAX_ENTRIES; ++i)
            many.append({QString("data/%1.txt").arg(i), "x"});
        row("too many entries", many, MARROWBY_E_TOO_MANY);
        row("unpacks too large", {{"plugin.lua", good}, {"zeros.bin", QByteArray(MARROWBY_MAX_UNPACKED_BYTES + 1, '\0')}},
            MARROWBY_E_TOO_LARGE);
    }

    void badPackagesAreRefused()
    {
        QFETCH(Entries, entries);
        QFETCH(int, code);
        QCOMPARE(installScript("installed"), int(MARROWBY_OK));
        const QStringList before = snapshot();
        PackageBuilder builder;
        for (const auto &entry : entries)
            builder.file(entry.first, entry.second);
        QCOMPARE(install("bad", builder), code);
        QVERIFY(!lastError().isEmpty());
        QCOMPARE(snapshot(), before);
        QCOMPARE(plugin_count(m_state), 1);
        QVERIFY(!QFile::exists(QString("/tmp/zorvel-evil-%1.txt").arg(getpid())));
    }

    void unreadablePackagesAreRefused()
    {
        const QStringList before = snapshot();
        QCOMPARE(install("absent"), int(MARROWBY_E_OPEN));
        QFile text(pkg("text"));
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("plugin.lua\nreturn {}\n") > 0);
        text.close();
        QCOMPARE(install("text"), int(MARROWBY_E_OPEN));

        // Random bytes, stored: the archive itself is over the bound.
        QByteArray noise(int(MARROWBY_MAX_ARCHIVE_BYTES), '\0');
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        QCOMPARE(install("big", PackageBuilder().file("plugin.lua", pluginScript("big")).file("noise.bin", noise, true)),
                 int(MARROWBY_E_TOO_LARGE));
        QCOMPARE(install("link", PackageBuilder().file("plugin.lua", pluginScript("linked")).symlink("passwd", "/etc/passwd")),
                 int(MARROWBY_E_UNSAFE_PATH));
        QCOMPARE(snapshot(), before);
        QCOMPARE(install_plugin("x.cpk", nullptr), int(MARROWBY_E_STATE));
    }

    void loadSkipsBrokenFoldersAndClearsStaging()
    {
        QCOMPARE(installScript("good"), int(MARROWBY_OK));
        // Hand-made folders: an id that does not match its folder, and a broken script.
        QDir(pluginsDir()).mkpath("liar");
        QFile liar(pluginsDir() + "/liar/plugin.lua");
        QVERIFY(liar.open(QIODevice::WriteOnly) && liar.write(pluginScript("good")) > 0);
        liar.close();
        QDir(pluginsDir()).mkpath("broken");
        QDir(tmpDir()).mkpath("marrowby-new-left");

        clip_state *second = startEngine();
        QCOMPARE(plugin_count(second), 1);
        QCOMPARE(plugin_at(second, 0)->id, "good");
        QVERIFY(*plugin_last_error(second));
        QVERIFY(QDir(tmpDir()).isEmpty());
        free_clip_state(second);
    }

    void resultsAndFailures()
    {
        QCOMPARE(installScript("r", "if text == 'nil' then return nil elseif text == 'num' then return 42"
                                    " elseif text == 'table' then return {} elseif text == 'error' then"
                                    " error('bad ' .. text) end return '<' .. text .. '>'"),
                 int(MARROWBY_OK));
        QCOMPARE(run(0, "中文"), QString("<中文>"));
        QCOMPARE(run(0, ""), QString("<>"));
        QCOMPARE(run(0, "nil"), QString("<null>"));
        QCOMPARE(lastError(), QByteArray());
        QCOMPARE(run(0, "num"), QString("42"));
        QCOMPARE(run(0, "table"), QString("<null>"));
        QVERIFY(lastError().contains("table"));
        QCOMPARE(run(0, "error"), QString("<null>"));
        QVERIFY(lastError().contains("bad error"));
        QCOMPARE(run(0, "again"), QString("<again>"));
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
            row(name, "local ok = pcall(function() return " + call + " end) return ok and 'open' or 'blocked'", "blocked");
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
        row("clock functions", "return type(os.time()) .. type(os.date('%Y')) .. type(os.clock())", "numberstringnumber");
        row("libraries",
            "return utf8.char(20013) .. string.upper('a') .. math.floor(2.5) .. table.concat({1, 2})"
            " .. coroutine.wrap(function() return 'c' end)()",
            "中A212c");
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
        QCOMPARE(install("probe", PackageBuilder()
                                      .file("plugin.lua", pluginScript("probe", "return load(text)()"))
                                      .file("native.so", "\x7f" "ELF not really")
                                      .file("helper.lua", "return { value = 'helped' }")),
                 int(MARROWBY_OK));
        QCOMPARE(run(0, snippet), expected);
        QVERIFY(!QFile::exists("/tmp/zorvel-sandbox-escape"));
    }

    void runawayPluginsAreStopped_data()
    {
        QTest::addColumn<QByteArray>("code");
        QTest::addColumn<QByteArray>("reason");
        const auto row = [](const char *name, const QByteArray &code, const QByteArray &reason = "instruction limit") {
            QTest::newRow(name) << code << reason;
        };
        row("endless loop", "while true do end");
        row("loop in a coroutine", "local co = coroutine.wrap(function() while true do end end) co()");
        row("table bomb", "local t = {} for i = 1, 1e12 do t[i] = ('x'):rep(64) .. i end", "memory limit");
        row("string bomb", "local s = 'xx' while true do s = s .. s end", "memory limit");
        row("loop that catches the error", "while true do pcall(function() while true do end end) end");
        // Each coroutine starts its own hook count; without a charge per creation
        // these would run 18 times the budget.
        row("two million tiny coroutines", "for i = 1, 2e6 do coroutine.wrap(function() end)() end");
        // Lua calls the handler with hooks off: it would loop for ever.
        row("xpcall handler after the limit", "xpcall(function() while true do end end, function() while true do end end)");
        row("collectgarbage loop", "while true do collectgarbage() end", "only \"count\"");
        row("bomb that catches the error",
            "while true do pcall(function() local t = {} for i = 1, 1e12 do t[i] = i end end) end");
    }

    void runawayPluginsAreStopped()
    {
        QFETCH(QByteArray, code);
        QFETCH(QByteArray, reason);
        QCOMPARE(installScript("runaway", "if text == 'go' then " + code + " end return 'alive'"), int(MARROWBY_OK));
        QCOMPARE(run(0, "go"), QString("<null>"));
        QVERIFY2(lastError().contains(reason), lastError());
        // The plugin's state is rebuilt and it works again.
        QCOMPARE(run(0, "calm"), QString("alive"));
    }

    void runawayAtLoadAndInFinalizers()
    {
        QCOMPARE(install("spin", PackageBuilder().file("plugin.lua", "while true do end")), int(MARROWBY_E_BAD_SCRIPT));
        QVERIFY(lastError().contains("instruction limit"));
        // Lua runs finalizers with hooks off, so a looping one could never be
        // stopped: metatables with __gc are refused.
        QCOMPARE(installScript("gc", "local ok = pcall(setmetatable, {}, { __gc = function() while true do end end })"
                                     " local mt = {} local t = setmetatable({}, mt)"
                                     " mt.__gc = function() while true do end end t = nil"
                                     " return tostring(ok) .. tostring(pcall(collectgarbage))"),
                 int(MARROWBY_OK));
        QCOMPARE(run(0, ""), QString("falsefalse"));
        QCOMPARE(remove_plugin("gc", m_state), int(MARROWBY_OK));
    }

    // The program stages and commits (tst_plugin_host); only the engine's own staging
    // folders move, and only under a valid id.
    void commitTakesOnlyOwnStaging()
    {
        char staging[4096];
        QVERIFY(writePlugin(pkg("two"), "two"));
        QCOMPARE(stage_plugin(QFile::encodeName(pkg("two")).constData(), m_state, staging, sizeof staging), int(MARROWBY_OK));
        QVERIFY(load_plugin_dir(m_state, staging, "", nullptr));
        int code = -1;
        QVERIFY(!load_plugin_dir(m_state, staging, "other", &code));
        QCOMPARE(code, int(MARROWBY_E_BAD_ID));
        QCOMPARE(commit_plugin(QFile::encodeName(pluginsDir()).constData(), "two", m_state), int(MARROWBY_E_STATE));
        QCOMPARE(commit_plugin((QByteArray(staging) + "../../x").constData(), "two", m_state), int(MARROWBY_E_STATE));
        QCOMPARE(commit_plugin(staging, "../two", m_state), int(MARROWBY_E_BAD_ID));
        QCOMPARE(commit_plugin(staging, "two", m_state), int(MARROWBY_OK));
        QVERIFY(QFile::exists(pluginsDir() + "/two/plugin.lua"));
        QVERIFY(QDir(tmpDir()).isEmpty());
    }
};

ZORVEL_TEST_MAIN(TestMarrowby)
#include "tst_marrowby.moc"
