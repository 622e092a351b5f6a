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
        QVERIFY(program.waitForTray(20000));
        QVERIFY(program.waitForDatabase(20000));
        QFile maps(QStringLiteral("/proc/%1/maps").arg(program.pid()));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        const QByteArray mapped = maps.readAll();
        QVERIFY(!mapped.contains("_dri.so"));
        QVERIFY(!mapped.contains("libLLVM"));
    }
};

ZORVEL_TEST_MAIN(TestTrayFootprint)
#include "tst_TrayFootprint.moc"
