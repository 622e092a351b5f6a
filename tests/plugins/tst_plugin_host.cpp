// PluginHost over the real engine: start-up, the log lines, execution, the
// "app" module's openURL and the bundled sample plugins.
#include "LogCapture.h"
#include "PackageBuilder.h"
#include "support/TestMain.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/clipUtils.h"
#include "platform/DesktopOpener.h"
#include "plugins/PluginHost.h"

#include <marrowby.h>

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestPluginHost : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_packages;
    std::unique_ptr<LogCapture> m_log;
    QList<QUrl> m_opened;

    QString package(const QString &name) const { return m_packages.filePath(name); }

    PluginObject installed(const QByteArray &id, const QByteArray &runBody)
    {
        const QString path = package(QString::fromUtf8(id) + QStringLiteral(".cpk"));
        if (!writePlugin(path, id, runBody))
            return PluginObject();
        PluginHost::instance()->install(path);
        return find(QString::fromUtf8(id));
    }

    static PluginObject find(const QString &id)
    {
        for (const PluginObject &p : PluginHost::instance()->plugins()) {
            if (QString::fromUtf8(p.handle->id) == id)
                return p;
        }
        return PluginObject();
    }

private Q_SLOTS:
    void initTestCase()
    {
        LogCapture log;
        PluginHost *host = PluginHost::instance();
        QCOMPARE(PluginHost::instance(), host);
        // The engine starts once and says where plugins live.
        QCOMPARE(LogCapture::lines().count(CFileManager::pluginsPath()), 1);
        QVERIFY(host->plugins().isEmpty());
    }

    void init()
    {
        m_log.reset(new LogCapture);
        m_opened.clear();
        DesktopOpener::setTestHook([this](const QUrl &url) {
            m_opened.append(url);
            return true;
        });
    }

    void cleanup()
    {
        DesktopOpener::setTestHook({});
        m_log.reset();
        for (const PluginObject &p : PluginHost::instance()->plugins())
            PluginHost::instance()->remove(p);
        QVERIFY(PluginHost::instance()->plugins().isEmpty());
        clipUtils::settings()->remove(QLatin1String(Zorvel::Key::SamplePluginsInstalled));
    }

    void pluginObjectTravelsInAVariant()
    {
        QVERIFY(QMetaType::type("PluginObject") != QMetaType::UnknownType);
        const PluginObject none;
        QVERIFY(!none.handle);
        QVERIFY(none.name.isEmpty() && none.description.isEmpty() && none.version.isEmpty()
                && none.author.isEmpty() && none.extra.isEmpty());

        const PluginObject p = installed("carried", "return text");
        QVERIFY(p.handle);
        QCOMPARE(p.name, QStringLiteral("Plugin carried"));
        QCOMPARE(p.description, QStringLiteral("test plugin"));
        QCOMPARE(p.version, QStringLiteral("1.0"));
        QCOMPARE(p.author, QStringLiteral("tester"));
        QVariantMap item{{QStringLiteral("plugin"), QVariant::fromValue(p)}};
        const PluginObject back = QVariant(item).toMap().value(QStringLiteral("plugin")).value<PluginObject>();
        QCOMPARE(back.handle, p.handle);
        QCOMPARE(PluginHost::instance()->execute(QStringLiteral("经过"), back), QStringLiteral("经过"));
    }

    void refusedInstallIsLoggedWithItsCode()
    {
        const QString bad = package(QStringLiteral("bad id.cpk"));
        QVERIFY(writePlugin(bad, "Bad"));
        PluginHost::instance()->install(bad);
        QVERIFY(LogCapture::lines().contains(QStringLiteral("plugin %1 install error with return code : 8").arg(bad)));

        const QString missing = package(QStringLiteral("missing.cpk"));
        PluginHost::instance()->install(missing);
        QVERIFY(LogCapture::lines().contains(
            QStringLiteral("plugin %1 install error with return code : 2").arg(missing)));
        QVERIFY(PluginHost::instance()->plugins().isEmpty());
        QVERIFY(QDir(CFileManager::pluginsPath()).isEmpty());
        QVERIFY(QDir(CFileManager::tmpPath()).isEmpty());
    }

    void emptyAndFailedResultsGiveEmptyText()
    {
        const PluginObject nil = installed("nil", "return nil");
        QCOMPARE(PluginHost::instance()->execute(QStringLiteral("x"), nil), QString());
        QVERIFY(!LogCapture::anyContains(QStringLiteral("failed")));

        // The engine's message would quote the text; the log must not.
        const PluginObject failing = installed("failing", "error('cannot handle ' .. text)");
        const QString secret = QStringLiteral("hunter2-password");
        QCOMPARE(PluginHost::instance()->execute(secret, failing), QString());
        QVERIFY(LogCapture::anyContains(QStringLiteral("plugin Plugin failing failed")));
        QVERIFY(!LogCapture::anyContains(secret));

        const PluginObject loop = installed("loop", "while true do end");
        QCOMPARE(PluginHost::instance()->execute(QStringLiteral("x"), loop), QString());
        QCOMPARE(PluginHost::instance()->execute(QStringLiteral("y"), nil), QString());
    }

    void staleHandlesAreIgnored()
    {
        const PluginObject p = installed("gone", "return 'still here'");
        PluginHost::instance()->remove(p);
        QVERIFY(PluginHost::instance()->plugins().isEmpty());
        QCOMPARE(PluginHost::instance()->execute(QStringLiteral("x"), p), QString());
        PluginHost::instance()->remove(p);
        QVERIFY(LogCapture::anyContains(QStringLiteral("no longer installed")));
        PluginHost::instance()->remove(PluginObject());
    }

    void openUrlDecodesUtf8_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("encoded"); // what the desktop receives; empty = refused
        QTest::newRow("Chinese path and query")
            << QStringLiteral("https://zh.wikipedia.org/wiki/剪贴板?q=中文")
            << QByteArray("https://zh.wikipedia.org/wiki/%E5%89%AA%E8%B4%B4%E6%9D%BF?q=%E4%B8%AD%E6%96%87");
        QTest::newRow("Chinese host") << QStringLiteral("https://例子.中国/")
                                      << QByteArray("https://xn--fsqu00a.xn--fiqs8s/");
        QTest::newRow("tolerant space") << QStringLiteral("http://example.com/a b")
                                        << QByteArray("http://example.com/a%20b");
        QTest::newRow("mail") << QStringLiteral("mailto:someone@example.com")
                              << QByteArray("mailto:someone@example.com");
        QTest::newRow("local file") << QStringLiteral("file:///etc/passwd") << QByteArray();
        QTest::newRow("no scheme") << QStringLiteral("example.com") << QByteArray();
        QTest::newRow("empty") << QString() << QByteArray();
    }

    void openUrlDecodesUtf8()
    {
        QFETCH(QString, address);
        QFETCH(QByteArray, encoded);
        const PluginObject p = installed("opener", "return app.openURL(text)");
        QCOMPARE(PluginHost::instance()->execute(address, p), QString());
        if (encoded.isEmpty()) {
            QVERIFY(m_opened.isEmpty());
            return;
        }
        QCOMPARE(m_opened.size(), 1);
        QCOMPARE(m_opened.first().toEncoded(), encoded);
        if (address.contains(QStringLiteral("剪贴板")))
            QCOMPARE(m_opened.first().path(), QStringLiteral("/wiki/剪贴板"));
    }

    void openUrlIgnoresNonText()
    {
        const PluginObject p = installed("odd", "return app.openURL({}) .. app.openURL() .. app.openURL(12)"
                                                " .. type(require('app').openURL)");
        QCOMPARE(PluginHost::instance()->execute(QString(), p), QStringLiteral("function"));
        QVERIFY(m_opened.isEmpty());
    }

    void samplesInstallOnFirstStartOnly()
    {
        QVERIFY(!PluginHost::samplesPath().isEmpty());
        PluginHost::instance()->installSamplesOnFirstStart();
        const QList<PluginObject> samples = PluginHost::instance()->plugins();
        QVERIFY2(samples.size() >= 5, qPrintable(LogCapture::lines().join(QLatin1Char('\n'))));
        PluginHost::instance()->remove(samples.first());
        PluginHost::instance()->installSamplesOnFirstStart();
        QCOMPARE(PluginHost::instance()->plugins().size(), samples.size() - 1);
    }

    void samplesTransformText_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("opened");
        const QString json = QStringLiteral("{\"a\":[1,-2.5e+3,{\"b\":null}], \"c\":\"x\\\"y\",\"d\":{},\"e\":[ ]}");
        const QString pretty = QStringLiteral("{\n  \"a\": [\n    1,\n    -2.5e+3,\n    {\n      \"b\": null\n    }\n"
                                              "  ],\n  \"c\": \"x\\\"y\",\n  \"d\": {},\n  \"e\": []\n}");
        QTest::newRow("trim") << "trim_space" << QStringLiteral("  a  \t b\u3000\u3000c  \r\n\r\n\r\n\n  d \u00a0")
                              << "a b c\n\nd" << QString();
        QTest::newRow("full to half") << "fullwidth_to_halfwidth" << QStringLiteral("ＡＢＣ　１２３！＠中文。")
                                      << QStringLiteral("ABC 123!@中文。") << QString();
        QTest::newRow("half to full") << "halfwidth_to_fullwidth" << QStringLiteral("Ab 1!\n中")
                                      << QStringLiteral("Ａｂ　１！\n中") << QString();
        QTest::newRow("url decode") << "url_decode" << "%E4%B8%AD%E6%96%87+a%2fb%zz"
                                    << QStringLiteral("中文+a/b%zz") << QString();
        QTest::newRow("url encode") << "url_encode" << QStringLiteral("a b/中-_.~")
                                    << "a%20b%2F%E4%B8%AD-_.~" << QString();
        QTest::newRow("json") << "json_format" << json << pretty << QString();
        QTest::newRow("json scalar") << "json_format" << " \"只是文字\" " << QStringLiteral("\"只是文字\"") << QString();
        QTest::newRow("not json") << "json_format" << "{\"a\": 01}" << "{\"a\": 01}" << QString();
        QTest::newRow("json trailing text") << "json_format" << "[1] 2" << "[1] 2" << QString();
        QTest::newRow("spacing") << "cjk_spacing" << QStringLiteral("使用Lua5.3编写的插件，共8个")
                                 << QStringLiteral("使用 Lua5.3 编写的插件，共 8 个") << QString();
        QTest::newRow("link in a sentence") << "open_link" << QStringLiteral("看这里：https://example.com/路径，谢谢")
                                            << QStringLiteral("看这里：https://example.com/路径，谢谢")
                                            << QStringLiteral("https://example.com/路径");
        QTest::newRow("bare domain") << "open_link" << " example.org " << " example.org "
                                     << "http://example.org";
        QTest::newRow("mail address") << "open_link" << "someone@example.com" << "someone@example.com"
                                      << "mailto:someone@example.com";
        QTest::newRow("no link") << "open_link" << "just words" << "just words" << QString();
    }

    void samplesTransformText()
    {
        QFETCH(QString, id);
        QFETCH(QString, input);
        QFETCH(QString, output);
        QFETCH(QString, opened);
        PluginHost::instance()->install(PluginHost::samplesPath() + QLatin1Char('/') + id + QStringLiteral(".cpk"));
        const PluginObject p = find(id);
        QVERIFY(p.handle);
        QCOMPARE(PluginHost::instance()->execute(input, p), output);
        if (opened.isEmpty()) {
            QVERIFY(m_opened.isEmpty());
        } else {
            QCOMPARE(m_opened.size(), 1);
            QCOMPARE(m_opened.first(), QUrl(opened));
        }
    }
};

ZORVEL_TEST_MAIN(TestPluginHost)
#include "test_plugin_host.moc"
