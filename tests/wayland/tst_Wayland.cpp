#include "support/TestMain.h"
#include "DesktopFixture.h"
#include "MenuFixture.h"
#include "WaylandFixture.h"
#include "support/RealProgram.h"

#include "app/Constants.h"
#include "capture/Selvane.h"
#include "desktop/MainWindow.h"
#include "platform/Backend.h"
#include "platform/KeyInjector.h"
#include "store/HistoryQueries.h"

#include <QLocalSocket>

using namespace DesktopFixture;
using namespace MenuFixture;
using namespace WaylandFixture;

namespace {

QByteArray png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

// The program on a Wayland compositor (headless sway): it has no window, so no
// focus, and still sees other programs' copies, serves its own entries to them and
// types the paste keys into the focused window.
class TestWayland : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCOMPARE(PlatformBackend::kind(), PlatformBackend::Kind::Wayland);
        // The program's one keyboard exists before any window takes the focus.
        QVERIFY(KeyInjector::system()->canInject());
        wipeStore();
        Selvane::instance();
    }

    void otherProgramsCopiesAreCaptured_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("hash");
        QTest::addColumn<QString>("entryType");

        const QByteArray text = QStringLiteral("从 wl-copy 来的\n第二行 ✓").toUtf8();
        QTest::newRow("text") << QStringLiteral("text/plain;charset=utf-8") << text << clipUtils::md5Hex(text)
                              << QStringLiteral("text");
        const QImage image = sampleImage(QColor(200, 40, 90));
        QTest::newRow("image") << QStringLiteral("image/png") << png(image)
                               << clipUtils::md5Hex(clipUtils::imageToTiff(image)) << QStringLiteral("image");
    }

    void otherProgramsCopiesAreCaptured()
    {
        QFETCH(QString, type);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, hash);
        QFETCH(QString, entryType);
        QVERIFY(wlCopy(bytes, type));
        QTRY_VERIFY_WITH_TIMEOUT(HistoryQueries::exists(hash, QStringLiteral("history")), 10000);
        const History record = StoreHelper::stored(hash);
        QVERIFY2(record.type().startsWith(entryType), qPrintable(record.type()));
    }

    // Copies that cannot become entries leave a log line and nothing stored, and
    // the next copy is captured as usual.
    void unusableCopiesStoreNothing_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("undecodable image") << QStringLiteral("image/png") << QByteArray("\x89PNG\r\n\x1a\n broken");
        QTest::newRow("no known format") << QStringLiteral("application/x-unknown") << QByteArray("opaque");
    }

    void unusableCopiesStoreNothing()
    {
        QFETCH(QString, type);
        QFETCH(QByteArray, bytes);
        const int before = rows();
        QVERIFY(wlCopy(bytes, type));
        const QByteArray next = "captured after " + type.toUtf8() + QByteArray::number(before);
        QVERIFY(wlCopy(next, QStringLiteral("text/plain")));
        QTRY_VERIFY_WITH_TIMEOUT(HistoryQueries::exists(clipUtils::md5Hex(next), QStringLiteral("history")), 10000);
        QCOMPARE(rows(), before + 1);
    }

    // What the program puts on the clipboard other programs read, for as long as it
    // runs; the change it causes is not captured as a new entry.
    void ownWritesAreServedAndNotCapturedAgain()
    {
        wipeStore();
        const History text = textEntry(QStringLiteral("stored entry 存"), 100);
        const History image = imageEntry(QColor(10, 120, 200), 101);
        const int before = rows();

        Selvane::copyRecord(text);
        QCOMPARE(QString::fromUtf8(wlPaste(QStringLiteral("text/plain"))), QStringLiteral("stored entry 存"));
        Selvane::copyRecord(image);
        QCOMPARE(QImage::fromData(wlPaste(QStringLiteral("image/png"))).size(), sampleImage(Qt::red).size());
        Selvane::instance()->setClipboardText(QStringLiteral("set, not captured"), false);
        QCOMPARE(QString::fromUtf8(wlPaste(QStringLiteral("text/plain"))), QStringLiteral("set, not captured"));

        // A large text reaches a reader whole, and one that stops reading early costs
        // nothing (the rest of the write is dropped, the program goes on).
        const QString large = QString(QLatin1Char('z')).repeated(8 * 1024 * 1024) + QStringLiteral("end");
        Selvane::instance()->setClipboardText(large, false);
        QCOMPARE(wlPaste(QStringLiteral("text/plain")).size(), large.size());
        QCOMPARE(runServed(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("wl-paste | head -c 5")}),
                 QByteArray("zzzzz"));
        Selvane::instance()->setClipboardText(QStringLiteral("set, not captured"), false);

        // A later copy by another program is captured; by then every change of our
        // own came back from the compositor and was looked at.
        const QByteArray later("copied later");
        QVERIFY(wlCopy(later, QStringLiteral("text/plain")));
        QTRY_VERIFY_WITH_TIMEOUT(HistoryQueries::exists(clipUtils::md5Hex(later), QStringLiteral("history")), 10000);
        QCOMPARE(rows(), before + 1);
        QVERIFY(!HistoryQueries::exists(clipUtils::md5Hex("set, not captured"), QStringLiteral("history")));
    }

    // A Qt window on Wayland: Shift+Insert, and Shift+Ctrl+V as terminals take it.
    void menuPasteReachesTheFocusedWindow_data()
    {
        QTest::addColumn<QString>("pasteKey");
        QTest::newRow("shift+insert") << QString();
        QTest::newRow("shift+ctrl+v") << QStringLiteral("shift+ctrl+v");
    }

    void menuPasteReachesTheFocusedWindow()
    {
        QFETCH(QString, pasteKey);
        wipeStore();
        const QString text = QStringLiteral("sway 粘贴 ok");
        textEntry(text, 120);
        MenuManager::instance()->updateMenu();
        clipUtils::settings()->setValue(QLatin1String(Zorvel::Key::PastKey), pasteKey);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        PasteTarget target;
        QVERIFY(target.start(env));
        QVERIFY(waitForFocus(QStringLiteral("paste_target")));
        trigger(mainMenu(), text, QStringLiteral("复制并粘贴"));
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), text, 10000);
        clipUtils::settings()->remove(QLatin1String(Zorvel::Key::PastKey));
    }

    // sway types but grabs no keys for programs: the settings window points to
    // `zorvel --show` and keeps the paste keystroke choice.
    void settingsWindowSaysWhatTheDesktopLeavesToTheUser()
    {
        const auto *note = MainWindow::instance()->findChild<QLabel *>(QStringLiteral("label_platform_note"));
        QVERIFY(note && !note->isHidden());
        QVERIFY2(note->text().contains(QLatin1String("zorvel --show")), qPrintable(note->text()));
        QVERIFY2(!note->text().contains(QStringLiteral("手动粘贴")), qPrintable(note->text()));
        QVERIFY(MainWindow::instance()->findChild<QComboBox *>(QStringLiteral("comboBox_4"))->isEnabled());
    }

    // The real program: `zorvel --show` hands the request to the running instance
    // and ends at once; the instance opens its menu, and shrugs off junk on its door.
    void showOpensTheRunningInstancesMenu()
    {
        QTemporaryDir home;
        // What is on the clipboard when the program starts is its first entry.
        const QByteArray before("on the clipboard before the start");
        QVERIFY(wlCopy(before, QStringLiteral("text/plain")));
        RealProgram::Program program(home.path());
        program.start();
        QVERIFY(program.waitForDatabase(60000));
        RealProgram::Reader reader(home.path());
        QTRY_VERIFY_WITH_TIMEOUT(reader.hashes().contains(clipUtils::md5Hex(before)), 30000);

        const QString socketPath = home.filePath(QStringLiteral("runtime/%1.socket").arg(Zorvel::kAppIdentifier));
        for (const QByteArray &junk : {QByteArray(5000, 'x'), QByteArray("bogus\n"), QByteArray("\0show\n", 6)}) {
            // The instance opens its door at the end of its start-up.
            QLocalSocket socket;
            QDeadlineTimer deadline(30000);
            do {
                socket.abort();
                socket.connectToServer(socketPath);
            } while (!socket.waitForConnected(100) && !deadline.hasExpired());
            QCOMPARE(socket.state(), QLocalSocket::ConnectedState);
            socket.write(junk);
            socket.waitForBytesWritten(5000);
            socket.waitForDisconnected(5000);
        }

        QProcess show;
        show.setProcessEnvironment(RealProgram::environmentFor(home.path()));
        show.start(QStringLiteral(ZORVEL_EXECUTABLE), {QStringLiteral("--show")});
        QVERIFY(show.waitForFinished(30000));
        QCOMPARE(show.exitCode(), 0);
        const auto logText = [&] {
            QFile log(RealProgram::rootFor(home.path()) + QStringLiteral("/log.txt"));
            return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
        };
        QTRY_COMPARE_WITH_TIMEOUT(logText().count("opened for a later start"), 1, 10000);
        QVERIFY(program.running());
        QVERIFY(logText().contains("platform: Wayland backend"));
        QVERIFY(logText().contains("unknown request"));
    }
};

ZORVEL_TEST_MAIN(TestWayland)
#include "tst_Wayland.moc"
