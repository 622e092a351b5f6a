#pragma once

// Helpers for the tests on a private headless sway (tests/support/with-sway): other
// Wayland programs (wl-copy, wl-paste) and sway's view of the focus.

#include <QtTest>

namespace WaylandFixture {

// Runs a program while this process goes on handling events: the program may read
// the clipboard this process serves. Returns its standard output.
inline QByteArray runServed(const QString &program, const QStringList &args, const QByteArray &input = QByteArray(),
                            int *exitCode = nullptr)
{
    QProcess p;
    p.setStandardErrorFile(QProcess::nullDevice());
    QEventLoop loop;
    QObject::connect(&p, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop, &QEventLoop::quit);
    QObject::connect(&p, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    loop.exec();
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished();
    }
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

// Another program copies: wl-copy stays in the background serving the bytes.
inline bool wlCopy(const QByteArray &bytes, const QString &type)
{
    int rc = -1;
    runServed(QStringLiteral("wl-copy"), {QStringLiteral("--type"), type}, bytes, &rc);
    return rc == 0;
}

inline QByteArray wlPaste(const QString &type)
{
    return runServed(QStringLiteral("wl-paste"), {QStringLiteral("--no-newline"), QStringLiteral("--type"), type});
}

// Waits until sway has given the keyboard focus to the window with that app_id
// (a command on criteria that match nothing fails; app_id is a pattern).
inline bool waitForFocus(const QString &appId)
{
    const QString focused = QStringLiteral("[app_id=\"^%1$\" con_id=__focused__] nop").arg(appId);
    return QTest::qWaitFor(
        [&] {
            QProcess swaymsg;
            swaymsg.setProcessChannelMode(QProcess::MergedChannels);
            swaymsg.start(QStringLiteral("swaymsg"), {focused});
            return swaymsg.waitForFinished(5000) && swaymsg.exitCode() == 0;
        },
        20000);
}

} // namespace WaylandFixture
