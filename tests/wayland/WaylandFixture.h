#pragma once

// Helpers for the tests on a private headless sway (tests/support/with-sway): other
// Wayland programs (wl-copy, wl-paste, foot) and sway's view of the focus.

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

// Waits until sway has given the keyboard focus to the window with that app_id.
inline bool waitForFocus(const QString &appId, int timeoutMs = 20000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QProcess p;
        p.start(QStringLiteral("swaymsg"), {QStringLiteral("-r"), QStringLiteral("-t"), QStringLiteral("get_tree")});
        p.waitForFinished(5000);
        QList<QJsonObject> nodes{QJsonDocument::fromJson(p.readAllStandardOutput()).object()};
        while (!nodes.isEmpty()) {
            const QJsonObject node = nodes.takeFirst();
            if (node.value(QStringLiteral("focused")).toBool() && node.value(QStringLiteral("app_id")) == appId)
                return true;
            for (const char *key : {"nodes", "floating_nodes"}) {
                for (const QJsonValue &child : node.value(QLatin1String(key)).toArray())
                    nodes.append(child.toObject());
            }
        }
        QTest::qWait(20);
    }
    return false;
}

} // namespace WaylandFixture
