#include "support/RealProgram.h"
#include "support/TestMain.h"

#include <QTemporaryDir>

using namespace RealProgram;

// Mapping the tray icon must not pull in the GL driver stack (it doubled the
// resident memory, from about 42 to 95 MB, for a program that draws no GL).
class TestTrayFootprint : public QObject
{
    Q_OBJECT

private slots:
    void trayIconLoadsNoGlDriver()
    {
        Tray tray;
        QVERIFY(tray.start());
        QTemporaryDir home;
        Program program(home.path());
        program.start();
        QVERIFY(program.waitForTray(60000));
        QVERIFY(program.waitForDatabase(60000));
        // The icon paints on its first expose; X delivers that before the clipboard
        // change that follows it, so once this copy is captured the paint is done.
        Reader reader(home.path());
        QVERIFY(copyText("after the first paint"));
        QTRY_COMPARE_WITH_TIMEOUT(reader.count(), 1, 10000);
        QFile maps(QStringLiteral("/proc/%1/maps").arg(program.pid()));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        const QByteArray mapped = maps.readAll();
        QVERIFY(!mapped.contains("_dri.so"));
        QVERIFY(!mapped.contains("libLLVM"));
    }
};

ZORVEL_TEST_MAIN(TestTrayFootprint)
#include "tst_TrayFootprint.moc"
