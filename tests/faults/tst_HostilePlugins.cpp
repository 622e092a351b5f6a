#include "support/RealProgram.h"
#include "support/TestMain.h"

using namespace RealProgram;

// Plugin folders a hostile package could leave behind (here put in place by hand,
// so the program finds them unrecorded and reads them through the runner at
// start): the program must start, capture, keep its own memory and write nothing
// for them, whatever they do at load. Its tray icon must not pull in the GL driver
// stack either (that doubled the resident memory, from about 42 to 95 MB).
class TestHostilePlugins : public QObject
{
    Q_OBJECT

    static void plugin(const QString &root, const QByteArray &id, const QByteArray &atLoad)
    {
        const QString dir = root + QStringLiteral("/Library/plugins/") + QString::fromLatin1(id);
        QDir().mkpath(dir);
        QFile script(dir + QStringLiteral("/plugin.lua"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(atLoad + "\nreturn { id = '" + id + "', name = 'Plugin " + id
                     + "', run = function(text) return text end }\n");
    }

private slots:
    void programStartsSmallAndCapturesWithHostilePlugins()
    {
        Tray tray;
        QVERIFY(tray.start());
        QTemporaryDir home;
        const QString root = rootFor(home.path());
        plugin(root, "hang_in_c", "local x = ('x'):rep(2^20):find('x*y')");
        plugin(root, "hang_in_lua", "while true do end");
        plugin(root, "opens_at_load", "app.openURL('https://example.com/at-load')");
        plugin(root, "prints", "local s = ('p'):rep(65536) for i = 1, 1e5 do print(s) end");
        for (int i = 0; i < 6; ++i)
            plugin(root, "hog" + QByteArray::number(i),
                   "big = {} for i = 1, 48 do big[i] = string.rep(string.char(64 + i), 2^20) end");
        plugin(root, "honest", "");

        Program program(home.path());
        program.start();
        QVERIFY(program.waitForTray(60000));
        QVERIFY(program.waitForDatabase(60000));
        Reader reader(home.path());
        // The icon paints on its first expose; X delivers that before the clipboard
        // change that follows it, so once this copy is captured the paint is done.
        QVERIFY(copyText("captured while plugins load"));
        QTRY_COMPARE_WITH_TIMEOUT(reader.count(), 1, 10000);
        QFile maps(QStringLiteral("/proc/%1/maps").arg(program.pid()));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        const QByteArray mapped = maps.readAll();
        QVERIFY(!mapped.contains("_dri.so") && !mapped.contains("libLLVM"));

        // Every folder has been read once the last one is listed (ids in order).
        const auto listed = [&root] {
            QFile file(root + "/Library/plugins.json");
            QStringList ids;
            if (file.open(QIODevice::ReadOnly)) {
                for (const QJsonValue &p : QJsonDocument::fromJson(file.readAll())["plugins"].toArray())
                    ids << p["id"].toString();
            }
            return ids;
        };
        QTRY_VERIFY_WITH_TIMEOUT(listed().contains("prints"), 30000);
        const QStringList ids = listed();
        QVERIFY(ids.contains("honest") && ids.contains("opens_at_load"));
        QVERIFY(!ids.contains("hang_in_c") && !ids.contains("hang_in_lua"));
#ifndef __SANITIZE_ADDRESS__
        QVERIFY(program.rssKiB() > 0 && program.rssKiB() < 200 * 1024); // plugin memory stays in the runner
#endif
        QVERIFY(copyText("and still capturing"));
        QTRY_COMPARE_WITH_TIMEOUT(reader.count(), 2, 10000);
        QVERIFY(program.running());

        // Nothing but the program's own files appeared.
        const QRegularExpression own("/Library/(plugins|files)/|/\\.(config|local|cache)/|/runtime/|plugins\\.json$|"
                                     "clipboard\\.db|log\\.txt$");
        QStringList written;
        QDirIterator it(home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!own.match(path).hasMatch())
                written << path;
        }
        QCOMPARE(written, QStringList());
    }
};

ZORVEL_TEST_MAIN(TestHostilePlugins)
#include "tst_HostilePlugins.moc"
