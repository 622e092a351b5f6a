#include "support/RealProgram.h"
#include "support/TestMain.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using namespace RealProgram;

// Plugin folders a hostile package could leave behind (here put in place by hand,
// so the program finds them unrecorded and reads them through the runner at
// start): the program must start, capture, keep its own memory and write nothing
// for them, whatever they do at load.
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
    void programStartsAndCapturesWithHostilePlugins()
    {
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
        QVERIFY(program.waitForDatabase(60000));
        Reader reader(home.path());
        QVERIFY(copyText("captured while plugins load"));
        QTRY_COMPARE_WITH_TIMEOUT(reader.count(), 1, 10000);

        // Every folder has been read once the honest one is listed (ids in order).
        const QString manifest = root + QStringLiteral("/Library/plugins.json");
        QStringList listed;
        QDeadlineTimer deadline(30000);
        while (!listed.contains(QStringLiteral("prints")) && !deadline.hasExpired()) {
            QFile file(manifest);
            listed.clear();
            if (file.open(QIODevice::ReadOnly)) {
                for (const QJsonValue &p : QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("plugins")).toArray())
                    listed << p.toObject().value(QStringLiteral("id")).toString();
            }
            QThread::msleep(20);
        }
        QVERIFY(listed.contains(QStringLiteral("honest")));
        QVERIFY(listed.contains(QStringLiteral("opens_at_load")));
        QVERIFY(!listed.contains(QStringLiteral("hang_in_c")));
        QVERIFY(!listed.contains(QStringLiteral("hang_in_lua")));
#ifndef __SANITIZE_ADDRESS__
        QVERIFY(program.rssKiB() < 200 * 1024); // plugin memory stays in the runner
#endif
        QVERIFY(copyText("and still capturing"));
        QTRY_COMPARE_WITH_TIMEOUT(reader.count(), 2, 10000);
        QVERIFY(program.running());

        // Nothing but the program's own files appeared.
        QStringList written;
        QDirIterator it(home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!path.contains(QStringLiteral("/Library/plugins/")) && !path.contains(QStringLiteral("/Library/files/"))
                && !path.contains(QStringLiteral("/.config/")) && !path.contains(QStringLiteral("/.local/"))
                && !path.contains(QStringLiteral("/.cache/")) && !path.contains(QStringLiteral("/runtime/"))
                && !path.endsWith(QStringLiteral("plugins.json")) && !path.contains(QStringLiteral("clipboard.db"))
                && !path.endsWith(QStringLiteral("log.txt")))
                written << path;
        }
        QCOMPARE(written, QStringList());
    }
};

ZORVEL_TEST_MAIN(TestHostilePlugins)
#include "tst_HostilePlugins.moc"
