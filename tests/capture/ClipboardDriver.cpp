#include "ClipboardDriver.h"

#include <QGuiApplication>
#include <QProcess>
#include <QTest>
#include <QUrl>

ClipboardDriver::ClipboardDriver()
{
    // Connected after the watcher (the fixture creates it first), so a change is
    // counted once the watcher's slot has handled it.
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed, QGuiApplication::instance(),
                     [this](QClipboard::Mode mode) { ++m_seen[mode]; });
}

ClipboardDriver::~ClipboardDriver()
{
    stopAll();
}

void ClipboardDriver::start(const QString &program, const QStringList &arguments, const QByteArray &input)
{
    auto *process = new QProcess;
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // xclip -quiet reports every request it serves.
    if (program == QLatin1String("xclip"))
        process->setStandardErrorFile(QProcess::nullDevice());
    process->start(program, arguments);
    if (!process->waitForStarted())
        qFatal("could not start %s", qPrintable(program));
    if (!input.isNull()) {
        process->write(input);
        process->closeWriteChannel();
    }
    m_processes.append(process);
}

bool ClipboardDriver::copy(const QByteArray &bytes, const QString &target, QClipboard::Mode mode, bool settle)
{
    // -quiet keeps xclip in the foreground, as our child; it ends by itself once
    // another client owns the selection.
    const QString selection = mode == QClipboard::Selection ? QStringLiteral("primary") : QStringLiteral("clipboard");
    m_expected[mode] = m_seen[mode] + 1;
    start(QStringLiteral("xclip"),
          {QStringLiteral("-quiet"), QStringLiteral("-selection"), selection, QStringLiteral("-t"), target,
           QStringLiteral("-i")},
          bytes.isNull() ? QByteArray("") : bytes);
    return waitForChanges(settle);
}

bool ClipboardDriver::copyFileUrls(const QStringList &paths, bool settle)
{
    QByteArray list;
    for (const QString &path : paths)
        list += QUrl::fromLocalFile(path).toEncoded() + "\r\n";
    return copy(list, QStringLiteral("text/uri-list"), QClipboard::Clipboard, settle);
}

bool ClipboardDriver::offer(const QStringList &arguments, int changes)
{
    const QClipboard::Mode mode = arguments.contains(QStringLiteral("--primary")) ? QClipboard::Selection
                                                                                   : QClipboard::Clipboard;
    m_expected[mode] = m_seen[mode] + changes;
    start(QStringLiteral(ZORVEL_CLIPBOARD_OWNER), arguments, QByteArray());
    return waitForChanges();
}

bool ClipboardDriver::waitForChanges(bool settle)
{
    const auto done = [this, settle]() {
        for (int mode = 0; mode <= QClipboard::LastMode; ++mode) {
            if (m_seen[mode] < m_expected[mode])
                return false;
        }
        return !settle || !m_settled || m_settled();
    };
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000)
        QTest::qWait(10);
    return done();
}

void ClipboardDriver::stopAll()
{
    for (QProcess *process : qAsConst(m_processes)) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished();
        }
        delete process;
    }
    m_processes.clear();
}
