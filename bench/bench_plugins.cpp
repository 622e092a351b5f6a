// Plugin engine: start-up with 10 installed plugins, and sample plugins run on
// 100 KB of text through the host (UTF-8 conversions included).
#include "BenchTable.h"
#include "support/TestMain.h"

#include "app/CFileManager.h"
#include "plugins/PluginHost.h"

#include <marrowby.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace {

PluginObject find(const char *id)
{
    for (const PluginObject &p : PluginHost::instance()->plugins()) {
        if (qstrcmp(p.handle->id, id) == 0)
            return p;
    }
    return PluginObject();
}

QString repeatTo(const QString &unit, int bytes)
{
    QString text;
    while (text.toUtf8().size() < bytes)
        text += unit;
    return text;
}

} // namespace

int main(int argc, char *argv[])
{
    const std::string home = TestEnv::makeHome();
    QCoreApplication app(argc, argv);
    PluginHost *host = PluginHost::instance();
    host->installSamplesOnFirstStart();
    // Two more plugin folders, as a user with a few downloads would have.
    for (int i = host->plugins().size(); i < 10; ++i) {
        const QString id = QStringLiteral("extra_%1").arg(i);
        QDir(CFileManager::pluginsPath()).mkpath(id);
        QFile script(CFileManager::pluginsPath() + id + QStringLiteral("/plugin.lua"));
        if (!script.open(QIODevice::WriteOnly))
            return 1;
        script.write("return { id = '" + id.toUtf8() + "', name = 'Extra', run = function(t) return t:upper() end }");
    }

    const QByteArray plugins = QFile::encodeName(CFileManager::pluginsPath());
    const QByteArray tmp = QFile::encodeName(CFileManager::tmpPath());
    clip_state *state = nullptr;
    int loaded = 0;
    Bench::report(QStringLiteral("plugins: engine start with 10 plugins"),
                  Bench::timeMs(
                      30, [&](int) { free_clip_state(state); },
                      [&](int) {
                          state = new_clip_state();
                          init_with_path(plugins.constData(), tmp.constData(), state);
                          loaded = load_plugins(state);
                      }),
                  QStringLiteral("ms"), QStringLiteral("<= 50 ms"));
    free_clip_state(state);
    if (loaded != 10) {
        std::fprintf(stderr, "expected 10 plugins, loaded %d\n", loaded);
        return 1;
    }

    const QString mixed = repeatTo(QStringLiteral("Zorvel 剪贴板  history\t管理123，ＡＢＣ　ｆｕｌｌ width  \n\n\n"), 100 * 1024);
    const QString json = QStringLiteral("[") + repeatTo(QStringLiteral("{\"id\":42,\"name\":\"条目\",\"tags\":[\"a\",\"b\"],"
                                                                       "\"size\":1.5e3,\"ok\":true},"),
                                                        100 * 1024)
                         + QStringLiteral("null]");
    const struct {
        const char *id;
        const QString &text;
    } runs[] = {
        {"trim_space", mixed},
        {"fullwidth_to_halfwidth", mixed},
        {"cjk_spacing", mixed},
        {"json_format", json},
    };
    for (const auto &run : runs) {
        const PluginObject plugin = find(run.id);
        QString out;
        Bench::report(QStringLiteral("plugins: %1 on 100 KB").arg(QLatin1String(run.id)),
                      Bench::timeMs(20, nullptr, [&](int) { out = host->execute(run.text, plugin); }),
                      QStringLiteral("ms"), QStringLiteral("<= 100 ms"));
        if (out.isEmpty()) {
            std::fprintf(stderr, "%s gave no result\n", run.id);
            return 1;
        }
    }
    QDir(QString::fromStdString(home)).removeRecursively();
    return 0;
}
