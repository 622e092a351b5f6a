// Latencies that depend on the desktop backend, named after it (x11 or wayland);
// bench/run runs this program on Xvfb and on headless sway.
//  - paste: "复制并粘贴" in the menu until the text shows in another program's
//    focused line edit (includes the program's fixed pause for the menu to close);
//  - capture (Wayland only; bench_capture has X11's): from another program's copy
//    (wl-copy started) to the committed row, the program having no focus.
#include "BenchImages.h"
#include "BenchTable.h"
#include "support/TestMain.h"
#include "desktop/DesktopFixture.h"
#include "desktop/MenuFixture.h"

#include "capture/Selvane.h"
#include "desktop/MenuManager.h"
#include "platform/Backend.h"

#include <QBuffer>
#include <QProcess>
#include <QRandomGenerator>

namespace {

const int kPasteRuns = 20;
const int kCaptureRuns = 30;

double pasteMs(DesktopFixture::PasteTarget &target, int i)
{
    const QString text = QStringLiteral(" p%1").arg(i);
    DesktopFixture::textEntry(text, 1000 + i);
    MenuManager::instance()->updateMenu();
    QElapsedTimer t;
    t.start();
    MenuFixture::trigger(MenuFixture::mainMenu(), text.trimmed(), QStringLiteral("复制并粘贴"));
    if (!QTest::qWaitFor([&] { return target.text().endsWith(text); }, 10000))
        return -1;
    return t.nsecsElapsed() / 1e6;
}

double captureMs(const QByteArray &bytes, const QString &type)
{
    QEventLoop loop;
    bool captured = false;
    const QMetaObject::Connection done = QObject::connect(Selvane::instance(), &Selvane::historyChanged, [&] {
        captured = true;
        loop.quit();
    });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    QElapsedTimer t;
    t.start();
    QProcess copy;
    copy.start(QStringLiteral("wl-copy"), {QStringLiteral("--type"), type});
    copy.write(bytes);
    copy.closeWriteChannel();
    loop.exec();
    QObject::disconnect(done);
    copy.waitForFinished();
    return captured ? t.nsecsElapsed() / 1e6 : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    const std::string home = TestEnv::makeHome();
    int rc = 0;
    {
        QApplication app(argc, argv);
        app.setQuitOnLastWindowClosed(false);
        const QString backend = PlatformBackend::name();
        DesktopFixture::wipeStore();
        Selvane::instance();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (PlatformBackend::kind() == PlatformBackend::Kind::Wayland)
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        DesktopFixture::PasteTarget target;
        QVector<double> samples;
        if (target.start(env)) {
            for (int i = 0; i < kPasteRuns; ++i) {
                const double ms = pasteMs(target, i);
                if (ms < 0) {
                    std::fprintf(stderr, "paste %d did not arrive\n", i);
                    rc = 1;
                    break;
                }
                samples.append(ms);
            }
        } else {
            std::fprintf(stderr, "the paste target did not start\n");
            rc = 1;
        }
        if (!samples.isEmpty())
            Bench::report(QStringLiteral("paste (%1): menu to text in a line edit").arg(backend),
                          Bench::stats(samples), QStringLiteral("ms"), QStringLiteral("<= 250 ms"));

        if (PlatformBackend::kind() == PlatformBackend::Kind::Wayland) {
            const auto measure = [&](const QString &name, const QString &type, const QString &goal,
                                     const std::function<QByteArray(int)> &content) {
                QVector<double> times;
                for (int i = 0; i < kCaptureRuns; ++i) {
                    const double ms = captureMs(content(i), type);
                    if (ms < 0) {
                        std::fprintf(stderr, "%s: copy %d was not captured\n", qPrintable(name), i);
                        rc = 1;
                        return;
                    }
                    times.append(ms);
                }
                Bench::report(name, Bench::stats(times), QStringLiteral("ms"), goal);
            };
            measure(QStringLiteral("capture (wayland): wl-copy 1 KB text to row"), QStringLiteral("text/plain"),
                    QStringLiteral("<= 20 ms"), [](int i) { return QByteArray(1000, 'a') + QByteArray::number(i); });
            measure(QStringLiteral("capture (wayland): wl-copy 1920x1080 image to row"),
                    QStringLiteral("image/png"), QStringLiteral("<= 250 ms"), BenchImages::screenshotPng);
        }
    }
    QDir(QString::fromStdString(home)).removeRecursively();
    return rc;
}
