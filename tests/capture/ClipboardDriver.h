#pragma once

// Drives the X11 clipboard from other processes the way other programs do: xclip, and
// clipboard_owner for data offering several formats at once. The watcher must exist
// before the driver.

#include "capture/Selvane.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>
#include <QTest>
#include <QUrl>

#include <memory>
#include <vector>

// Each copy returns once the watcher has handled it, and with settle, once the watcher
// is idle again.
class ClipboardDriver
{
public:
    ClipboardDriver()
    {
        // Connected after the watcher (the test creates it first), so a change is
        // counted once the watcher's slot has handled it.
        QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed, qApp, [this](QClipboard::Mode mode) {
            if (mode == QClipboard::Clipboard)
                ++m_seen;
        });
    }
    ~ClipboardDriver()
    {
        for (const auto &process : m_processes) {
            process->kill();
            process->waitForFinished();
        }
    }

    // xclip -selection clipboard -t <target>, the bytes on its input. -quiet keeps xclip
    // in the foreground, as our child; it ends by itself once another client owns the
    // clipboard.
    bool copy(const QByteArray &bytes, const QString &target = QStringLiteral("UTF8_STRING"), bool settle = true)
    {
        return start(QStringLiteral("xclip"),
                     {QStringLiteral("-quiet"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                      QStringLiteral("-t"), target, QStringLiteral("-i")},
                     bytes.isNull() ? QByteArray("") : bytes, settle);
    }
    bool copyText(const QString &text) { return copy(text.toUtf8()); }
    bool copyFileUrls(const QStringList &paths, bool settle = true)
    {
        QByteArray list;
        for (const QString &path : paths)
            list += QUrl::fromLocalFile(path).toEncoded() + "\r\n";
        return copy(list, QStringLiteral("text/uri-list"), settle);
    }
    // clipboard_owner FORMAT=VALUE...: several formats at once (VALUE "@path" reads a file).
    bool offer(const QStringList &formats, const QString &owner = QStringLiteral(ZORVEL_CLIPBOARD_OWNER))
    {
        return start(owner, formats, QByteArray(), true);
    }

    // Waits until every change made so far has reached the watcher.
    bool waitForChanges(bool settle = true)
    {
        return QTest::qWaitFor([&] { return m_seen >= m_expected && (!settle || !Selvane::instance()->busy()); }, 10000);
    }

private:
    bool start(const QString &program, const QStringList &arguments, const QByteArray &input, bool settle)
    {
        m_processes.push_back(std::make_unique<QProcess>());
        QProcess *process = m_processes.back().get();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        if (program == QLatin1String("xclip")) // -quiet reports every request it serves
            process->setStandardErrorFile(QProcess::nullDevice());
        m_expected = m_seen + 1;
        process->start(program, arguments);
        if (!process->waitForStarted())
            return false;
        if (!input.isNull()) {
            process->write(input);
            process->closeWriteChannel();
        }
        return waitForChanges(settle);
    }

    std::vector<std::unique_ptr<QProcess>> m_processes;
    int m_seen = 0;
    int m_expected = 0;
};
