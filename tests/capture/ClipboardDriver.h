#pragma once

// Drives the X11 clipboard from other processes (xclip, clipboard_owner) the way
// other programs do, and lets a test wait until the watcher has handled a change.

#include <QByteArray>
#include <QClipboard>
#include <QList>
#include <QStringList>

#include <functional>

class QProcess;

class ClipboardDriver
{
public:
    ClipboardDriver();
    ~ClipboardDriver();

    // Each copy returns once the watcher has handled it (see waitForChanges).
    // xclip -selection <selection> -t <target>, the bytes on its input.
    bool copy(const QByteArray &bytes, const QString &target = QStringLiteral("UTF8_STRING"),
              QClipboard::Mode mode = QClipboard::Clipboard, bool settle = true);
    bool copyText(const QString &text) { return copy(text.toUtf8()); }
    bool copyFileUrls(const QStringList &paths, bool settle = true);
    // clipboard_owner with the given arguments: several formats at once; changes is
    // the number of clipboard changes it makes.
    bool offer(const QStringList &arguments, int changes = 1);

    // Waits until the changes caused since the last wait have reached the
    // application; each was handled by the watcher before this returns, and
    // with settle, the settled condition (when given) holds.
    bool waitForChanges(bool settle = true);
    void setSettled(const std::function<bool()> &settled) { m_settled = settled; }
    // Ends every helper still running (the current owner, at most).
    void stopAll();

private:
    void start(const QString &program, const QStringList &arguments, const QByteArray &input);

    QList<QProcess *> m_processes;
    std::function<bool()> m_settled;
    int m_seen[QClipboard::LastMode + 1] = {};
    int m_expected[QClipboard::LastMode + 1] = {};
};
