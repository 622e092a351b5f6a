#include "support/TestMain.h"
#include "DesktopFixture.h"
#include "MenuFixture.h"

#include "app/Constants.h"
#include "capture/Selvane.h"
#include "plugins/PluginHost.h"
#include "store/HistoryQueries.h"

using namespace DesktopFixture;
using namespace MenuFixture;

// The tray menu built from a real store, its signed-out operations, and the paste
// keystrokes they type into another program's focused window.
class TestMenuManager : public QObject
{
    Q_OBJECT

private:
    static void rebuild() { MenuManager::instance()->updateMenu(); }
    static void set(const History &h, const char *assignment)
    {
        QSqlQuery(QStringLiteral("update History set %1 where file_hash = '%2'").arg(QLatin1String(assignment), h.file_hash()))
            .exec();
    }
    // A favourite copy of the entry, with the mark on both rows.
    static void star(History h, qint64 mark)
    {
        h.setCategory(QStringLiteral("favourite"));
        h.save();
        HistoryQueries::setFavourite(mark, h.file_hash());
    }

private slots:
    void init()
    {
        wipeStore();
        QDir(CFileManager::filesPath()).removeRecursively();
        clipUtils::settings()->remove(QLatin1String(Zorvel::Key::NewVersion));
        rebuild();
    }

    void emptyStoreShowsOnlyCommands()
    {
        QCOMPARE(texts(mainMenu()), QStringList({"|", "收藏>", "|", "登录/注册", "插件", "设置", "退出"}));
        QVERIFY(favourites()->isEmpty());
        QVERIFY(!find(mainMenu(), QStringLiteral("插件"))->icon().isNull());
    }

    void entriesAreListedNewestFirstWithTheirLabels()
    {
        textEntry(QStringLiteral("0123456789abcdef"), 120);
        textEntry(QStringLiteral("0123456789abcdefg"), 119);
        textEntry(QStringLiteral("  two\n\n   \twords "), 118);
        set(textEntry(QStringLiteral("my password is rather long"), 117), "secert = 1");
        imageEntry(Qt::red, 116, 5767168);
        imageEntry(Qt::blue, 115, 5767169);
        fileEntry(QStringLiteral("report.pdf"), "pdf bytes", 114);
        set(textEntry(QStringLiteral("odd"), 113), "type = 'unknow'");
        textEntry(QStringLiteral("salt & pepper"), 112);
        textEntry(QStringLiteral("0123456789abcdef🙂 cut inside the emoji"), 111.5); // never half a character
        textEntry(QStringLiteral("你好世界，这是一段很长的中文文本用于测试截断"), 111);
        textEntry(QStringLiteral("favourite text"), 110, QStringLiteral("favourite"));
        imageEntry(Qt::green, 109, 100, QStringLiteral("favourite"));
        rebuild();

        QCOMPARE(texts(mainMenu()),
                 QStringList({"0123456789abcdef", "0123456789abcdefg ...", "two words", "[*机密*] my password is ra ...",
                              "<图片>", "<图片>(大于5M,无法上传)", "[文件]report.pdf", "salt && pepper",
                              "0123456789abcdef ...", "你好世界，这是一段很长的中文文本用 ...", "|", "收藏>", "|", "登录/注册", "插件", "设置",
                              "退出"}));
        QCOMPARE(labels(favourites()), QStringList({"favourite text", "<图片>"}));

        QVERIFY(!find(mainMenu(), QStringLiteral("<图片>"))->icon().isNull());
        QVERIFY(!find(mainMenu(), QStringLiteral("[文件]report.pdf"))->icon().isNull());
        QVERIFY(find(mainMenu(), QStringLiteral("0123456789abcdef"))->icon().isNull());
    }

    void newVersionIsShownOnTheSettingsItem()
    {
        clipUtils::settings()->setValue(QLatin1String(Zorvel::Key::NewVersion), QStringLiteral("99.0.0"));
        rebuild();
        QAction *settings = find(mainMenu(), QStringLiteral("设置 (有新版本!)"));
        QVERIFY(settings && !settings->icon().isNull());
    }

    void subMenusDependOnTheKindAndAreBuiltOnce()
    {
        textEntry(QStringLiteral("plain"), 120);
        set(textEntry(QStringLiteral("secret"), 119), "secert = 1");
        imageEntry(Qt::red, 118);
        fileEntry(QStringLiteral("notes.txt"), "notes", 117);
        star(textEntry(QStringLiteral("kept"), 116), 50);
        rebuild();

        QCOMPARE(texts(hover(find(mainMenu(), QStringLiteral("plain")))),
                 QStringList({"复制并粘贴", "|", "由此批量粘贴", "|", "|", "收藏", "|", "删除"}));
        QCOMPARE(labels(hover(find(mainMenu(), QStringLiteral("[*机密*] secret")))),
                 QStringList({"复制并粘贴", "由此批量粘贴", "解除机密并上传", "收藏", "删除"}));
        QCOMPARE(labels(hover(find(mainMenu(), QStringLiteral("<图片>")))),
                 QStringList({"复制并粘贴", "保存到桌面", "收藏", "删除"}));
        QCOMPARE(labels(hover(find(mainMenu(), QStringLiteral("[文件]notes.txt")))),
                 QStringList({"保存到桌面", "收藏", "删除"}));
        QCOMPARE(labels(hover(find(mainMenu(), QStringLiteral("kept")))),
                 QStringList({"复制并粘贴", "由此批量粘贴", "取消收藏", "删除"}));

        // Installed plugins follow the batch item of text entries, in the ids' order;
        // never on confidential entries, and disabled ones not at all.
        PluginHost::instance()->install(PluginHost::samplesPath() + QStringLiteral("/trim_space.cpk"));
        PluginHost::instance()->install(PluginHost::samplesPath() + QStringLiteral("/url_encode.cpk"));
        PluginHost::instance()->install(PluginHost::samplesPath() + QStringLiteral("/url_decode.cpk"));
        QTRY_COMPARE_WITH_TIMEOUT(PluginHost::instance()->plugins().size(), 3, 10000);
        PluginHost::instance()->setEnabled(QStringLiteral("url_decode"), false);
        rebuild();
        QCOMPARE(labels(hover(find(mainMenu(), QStringLiteral("plain")))),
                 QStringList({"复制并粘贴", "由此批量粘贴", "整理空白 Tidy whitespace", "URL 编码 URL encode", "收藏", "删除"}));
        QCOMPARE(labels(hover(find(mainMenu(), QStringLiteral("[*机密*] secret")))),
                 QStringList({"复制并粘贴", "由此批量粘贴", "解除机密并上传", "收藏", "删除"}));
        for (const PluginObject &plugin : PluginHost::instance()->plugins())
            PluginHost::instance()->remove(plugin);
        rebuild();

        QAction *plain = find(mainMenu(), QStringLiteral("plain"));
        hover(plain);
        QMenu *built = plain->menu();
        QCOMPARE(hover(plain), built); // a second hover keeps the first sub-menu

        // The next rebuild starts over with unbuilt entries.
        rebuild();
        QVERIFY(find(mainMenu(), QStringLiteral("plain"))->menu()->isEmpty());
    }

    void favouriteToggleSignedOut()
    {
        History entry = textEntry(QStringLiteral("to keep"), 120);
        rebuild();
        trigger(mainMenu(), QStringLiteral("to keep"), QStringLiteral("收藏"));
        QVERIFY(HistoryQueries::exists(entry.file_hash(), QStringLiteral("favourite")));
        const qint64 marked = StoreHelper::stored(entry.file_hash()).favourite();
        QVERIFY(qAbs(marked - qint64(clipUtils::currentTime())) <= 2);
        QCOMPARE(StoreHelper::stored(entry.file_hash(), QStringLiteral("favourite")).favourite(), marked);
        QCOMPARE(labels(favourites()), QStringList({"to keep"}));

        // Unmarked from the favourites list: the copy goes, the mark turns negative,
        // the history entry keeps its file.
        trigger(favourites(), QStringLiteral("to keep"), QStringLiteral("取消收藏"));
        QVERIFY(!HistoryQueries::exists(entry.file_hash(), QStringLiteral("favourite")));
        QVERIFY(StoreHelper::stored(entry.file_hash()).favourite() < 0);
        QVERIFY(favourites()->isEmpty());
        QVERIFY(QFile::exists(CFileManager::filesPath() + entry.file_hash()));

        // A favourite whose history entry is gone takes its file with it.
        History lone = textEntry(QStringLiteral("only starred"), 110, QStringLiteral("favourite"));
        HistoryQueries::setFavourite(40, lone.file_hash());
        rebuild();
        trigger(favourites(), QStringLiteral("only starred"), QStringLiteral("取消收藏"));
        QCOMPARE(rows(QStringLiteral("where file_hash = '%1'").arg(lone.file_hash())), 0);
        QVERIFY(!QFile::exists(CFileManager::filesPath() + lone.file_hash()));
    }

    void deleteSignedOutRemovesEveryRowAndFile()
    {
        History entry = imageEntry(Qt::red, 120);
        entry.setKeyHash(QStringLiteral("0123456789abcdef0123456789abcdef"));
        entry.save();
        star(entry, 30);
        for (const QString &path : {CFileManager::zipPath() + entry.file_hash(),
                                    CFileManager::encryptPath() + entry.cipherHash()}) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        History other = textEntry(QStringLiteral("stays"), 100);
        rebuild();

        trigger(mainMenu(), QStringLiteral("<图片>"), QStringLiteral("删除"));
        QCOMPARE(rows(QStringLiteral("where file_hash = '%1'").arg(entry.file_hash())), 0);
        QVERIFY(!QFile::exists(CFileManager::filesPath() + entry.file_hash()));
        QVERIFY(!QFile::exists(CFileManager::zipPath() + entry.file_hash()));
        QVERIFY(!QFile::exists(CFileManager::encryptPath() + entry.cipherHash()));
        QVERIFY(QFile::exists(CFileManager::filesPath() + other.file_hash()));
        QCOMPARE(labels(mainMenu()).first(), QStringLiteral("stays"));
        QVERIFY(favourites()->isEmpty());
    }

    void releaseConfidentialClearsEveryRow()
    {
        star(textEntry(QStringLiteral("pin 1234"), 120), 10);
        QSqlQuery(QStringLiteral("update History set secert = 1")).exec();
        rebuild();
        trigger(mainMenu(), QStringLiteral("[*机密*] pin 1234"), QStringLiteral("解除机密并上传"));
        QCOMPARE(rows(QStringLiteral("where secert = 1")), 0);
        QCOMPARE(labels(mainMenu()).first(), QStringLiteral("pin 1234"));
    }

    void saveToDesktopKeepsExistingFilesAndUsesTheBaseName()
    {
        const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        History image = imageEntry(Qt::red, 120);
        fileEntry(QStringLiteral("../../escape.txt"), "file body", 119);
        rebuild();

        trigger(mainMenu(), QStringLiteral("<图片>"), QStringLiteral("保存到桌面"));
        const QString saved = desktop + QLatin1Char('/') + image.file_hash() + QStringLiteral(".tiff");
        QVERIFY(QFile::exists(saved));

        trigger(mainMenu(), QStringLiteral("[文件]../../escape.txt"), QStringLiteral("保存到桌面"));
        QFile file(desktop + QStringLiteral("/escape.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("file body"));
        file.close();
        QVERIFY(!QFile::exists(QDir::homePath() + QStringLiteral("/escape.txt")));

        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("mine");
        file.close();
        trigger(mainMenu(), QStringLiteral("[文件]../../escape.txt"), QStringLiteral("保存到桌面"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("mine"));
    }

    // An entry whose file is not here writes nothing, so no keystroke may follow:
    // it would paste the clipboard's previous content. The next pastes (a plugin's
    // result, then a plain entry with the other keystroke) show that none was sent
    // in between.
    void menuPastesAndEntryWithoutItsFileSendsNoKeystroke_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::newRow("paste") << QStringLiteral("复制并粘贴");
        QTest::newRow("batch") << QStringLiteral("由此批量粘贴");
        QTest::newRow("plugin") << QStringLiteral("URL 编码 URL encode");
    }
    void menuPastesAndEntryWithoutItsFileSendsNoKeystroke()
    {
        QFETCH(QString, operation);
        Selvane::instance(); // the watcher captures what the plugin put on the clipboard
        PluginHost::instance()->install(PluginHost::samplesPath() + QStringLiteral("/url_encode.cpk"));
        QTRY_COMPARE_WITH_TIMEOUT(PluginHost::instance()->plugins().size(), 1, 10000);
        PasteTarget target;
        QVERIFY(target.start());
        Selvane::putText(QStringLiteral("previous clipboard"));
        const History missing = textEntry(QStringLiteral("not downloaded"), 120);
        QVERIFY(QFile::remove(CFileManager::filesPath() + missing.file_hash()));
        textEntry(QStringLiteral("a b/中"), 121);
        textEntry(QStringLiteral("!"), 122);
        rebuild();
        QSignalSpy notices(MenuManager::instance(), &MenuManager::noticeRequested);
        trigger(mainMenu(), QStringLiteral("not downloaded"), operation);
        QTRY_COMPARE(notices.size(), 1);
        QCOMPARE(notices.at(0).at(0).toString(), QStringLiteral("该条目的内容尚未下载到本机"));
        trigger(mainMenu(), QStringLiteral("a b/中"), QStringLiteral("URL 编码 URL encode"));
        QTRY_COMPARE(target.text(), QStringLiteral("a%20b%2F%E4%B8%AD"));
        QTRY_VERIFY(HistoryQueries::exists(clipUtils::md5Hex("a%20b%2F%E4%B8%AD"), QStringLiteral("history")));
        // The choice is read at every paste: the next one uses Shift+Ctrl+V.
        clipUtils::settings()->setValue(QLatin1String(Zorvel::Key::PastKey), QStringLiteral("shift+ctrl+v"));
        trigger(mainMenu(), QStringLiteral("!"), QStringLiteral("复制并粘贴"));
        QTRY_VERIFY(target.text().endsWith(QLatin1Char('!')));
        QCOMPARE(target.text(), QStringLiteral("a%20b%2F%E4%B8%AD!"));
        // Also on PRIMARY, which Shift+Insert pastes in terminals.
        QCOMPARE(QGuiApplication::clipboard()->text(QClipboard::Selection), QStringLiteral("!"));
        clipUtils::settings()->remove(QLatin1String(Zorvel::Key::PastKey));
    }

    void batchPasteJoinsTextsAndIsNotCaptured()
    {
        Selvane::instance(); // the watcher, as in the running program
        textEntry(QStringLiteral("a"), 100);
        textEntry(QStringLiteral("b\n"), 101);
        textEntry(QStringLiteral("c"), 102);
        imageEntry(Qt::red, 101); // not a text: not part of the run
        textEntry(QStringLiteral("older"), 99);
        rebuild();
        trigger(mainMenu(), QStringLiteral("a"), QStringLiteral("由此批量粘贴"));
        QTRY_COMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("a\nb\nc"));

        // A copy made afterwards by another program is captured; the batch text,
        // put there before it, was not.
        QProcess xclip;
        xclip.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard")});
        xclip.write("from elsewhere");
        xclip.closeWriteChannel();
        QTRY_VERIFY(HistoryQueries::exists(clipUtils::md5Hex("from elsewhere"), QStringLiteral("history")));
        QVERIFY(!HistoryQueries::exists(clipUtils::md5Hex("a\nb\nc"), QStringLiteral("history")));
        QCOMPARE(rows(), 6);
        xclip.kill();
        xclip.waitForFinished();
    }

    void batchFromAFavouriteAddsItToTheHistory()
    {
        History starred = textEntry(QStringLiteral("starred first"), 200, QStringLiteral("favourite"));
        HistoryQueries::setFavourite(77, starred.file_hash());
        textEntry(QStringLiteral("then this"), 201);
        rebuild();
        trigger(favourites(), QStringLiteral("starred first"), QStringLiteral("由此批量粘贴"));
        QTRY_COMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("starred first\nthen this"));
        QVERIFY(HistoryQueries::exists(starred.file_hash(), QStringLiteral("history")));
    }
};

ZORVEL_TEST_MAIN(TestMenuManager)
#include "tst_MenuManager.moc"
