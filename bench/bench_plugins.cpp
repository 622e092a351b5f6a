// Plugins: the engine in this process (as the program ran them before the runner)
// beside zorvel-plugin-runner behind its pipe: runner start, first run (load and
// run in a fresh runner) and warm run of the samples on 1 KB and 100 KB.
#include "BenchTable.h"
#include "support/TestMain.h"

#include "app/CFileManager.h"
#include "plugins/PluginHost.h"
#include "plugins/PluginRunner.h"

#include <marrowby.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <memory>

namespace {

QByteArray repeatTo(const QByteArray &unit, int bytes)
{
    QByteArray text;
    while (text.size() < bytes)
        text += unit;
    return text;
}

// One request, answered synchronously for measuring (the program never waits like this).
PluginRunner::Reply call(PluginRunner &runner, char kind, const QList<QByteArray> &fields)
{
    bool got = false;
    PluginRunner::Reply out;
    runner.request(kind, fields, 10000, [&](const PluginRunner::Reply &r) {
        out = r;
        got = true;
    });
    while (!got)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    const std::string home = TestEnv::makeHome();
    QCoreApplication app(argc, argv);
    const QByteArray pluginsDir = QFile::encodeName(CFileManager::pluginsPath());
    const QByteArray tmp = QFile::encodeName(CFileManager::tmpPath());
    clip_state *installer = new_clip_state();
    init_with_path(pluginsDir.constData(), tmp.constData(), installer);
    const QString samples = PluginHost::samplesPath();
    for (const QString &package : QDir(samples).entryList({QStringLiteral("*.cpk")}, QDir::Files))
        install_plugin(QFile::encodeName(samples + QLatin1Char('/') + package).constData(), installer);
    free_clip_state(installer);
    // Two more plugin folders, as a user with a few downloads would have.
    for (int i = 0; i < 2; ++i) {
        const QString id = QStringLiteral("extra_%1").arg(i);
        QDir(CFileManager::pluginsPath()).mkpath(id);
        QFile script(CFileManager::pluginsPath() + id + QStringLiteral("/plugin.lua"));
        if (!script.open(QIODevice::WriteOnly))
            return 1;
        script.write("return { id = '" + id.toUtf8() + "', name = 'Extra', run = function(t) return t:upper() end }");
    }

    clip_state *state = nullptr;
    int loaded = 0;
    Bench::report(QStringLiteral("plugins: engine start with 10 plugins"),
                  Bench::timeMs(
                      30, [&](int) { free_clip_state(state); },
                      [&](int) {
                          state = new_clip_state();
                          init_with_path(pluginsDir.constData(), tmp.constData(), state);
                          loaded = load_plugins(state);
                      }),
                  QStringLiteral("ms"), QStringLiteral("<= 50 ms"));
    if (loaded != 10) {
        std::fprintf(stderr, "expected 10 plugins, loaded %d\n", loaded);
        return 1;
    }

    const QString program = PluginRunner::defaultProgram();
    const QByteArray trimDir = pluginsDir + "trim_space";
    Bench::report(QStringLiteral("plugins: runner start and first load"),
                  Bench::timeMs(20, nullptr,
                                [&](int) {
                                    PluginRunner runner(program);
                                    call(runner, 'L', {trimDir, "trim_space"});
                                }),
                  QStringLiteral("ms"), QStringLiteral("<= 50 ms"));

    const QByteArray mixed = QString::fromUtf8("Zorvel 剪贴板  history\t管理123，ＡＢＣ　ｆｕｌｌ width  \n\n\n").toUtf8();
    const QByteArray json = "{\"id\":42,\"name\":\"\xe6\x9d\xa1\xe7\x9b\xae\",\"tags\":[\"a\",\"b\"],\"size\":1.5e3,\"ok\":true},";
    const struct {
        const char *id;
        QByteArray unit;
    } runs[] = {{"trim_space", mixed}, {"fullwidth_to_halfwidth", mixed}, {"cjk_spacing", mixed}, {"json_format", json}};
    for (const auto &run : runs) {
        for (const int kib : {1, 100}) {
            QByteArray text = repeatTo(run.unit, kib * 1024);
            if (qstrcmp(run.id, "json_format") == 0)
                text = "[" + text + "null]";
            const QString label = QStringLiteral("plugins: %1 on %2 KB").arg(QLatin1String(run.id)).arg(kib);
            clip_plugin *record = nullptr;
            for (int i = 0; i < plugin_count(state); ++i) {
                if (qstrcmp(plugin_at(state, i)->id, run.id) == 0)
                    record = plugin_at(state, i);
            }
            const char *out = nullptr;
            Bench::report(label + QStringLiteral(", in-process"),
                          Bench::timeMs(20, nullptr, [&](int) { out = plugin_execute_text(record, text.constData()); }),
                          QStringLiteral("ms"), QStringLiteral("<= 100 ms"));
            if (!out || !*out) {
                std::fprintf(stderr, "%s gave no result\n", run.id);
                return 1;
            }
            const QByteArray dir = pluginsDir + run.id;
            std::unique_ptr<PluginRunner> runner;
            Bench::report(label + QStringLiteral(", runner first run"),
                          Bench::timeMs(
                              10,
                              [&](int) {
                                  runner.reset(new PluginRunner(program));
                                  call(*runner, 'U', {"none"}); // started, nothing loaded
                              },
                              [&](int) {
                                  call(*runner, 'L', {dir, run.id});
                                  call(*runner, 'R', {run.id, text});
                              }),
                          QStringLiteral("ms"), QStringLiteral("<= 100 ms"));
            PluginRunner::Reply reply;
            Bench::report(label + QStringLiteral(", runner warm run"),
                          Bench::timeMs(20, nullptr, [&](int) { reply = call(*runner, 'R', {run.id, text}); }),
                          QStringLiteral("ms"), QStringLiteral("<= in-process + 2 ms"));
            if (reply.kind != 'T' || reply.fields.value(1) != QByteArray(out)) {
                std::fprintf(stderr, "%s: the runner's result differs\n", run.id);
                return 1;
            }
        }
    }
    free_clip_state(state);
    QDir(QString::fromStdString(home)).removeRecursively();
    return 0;
}
