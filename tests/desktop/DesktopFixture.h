#pragma once

// Helpers for the desktop tests: other X clients (xdotool, the hot-key probe and
// the paste target window) and entries with their stored files.

#include "app/CFileManager.h"
#include "app/clipUtils.h"
#include "support/StoreHelper.h"

#include <QtTest>
#include <QtWidgets>

namespace DesktopFixture {

inline int xdotool(const QStringList &args)
{
    return QProcess::execute(QStringLiteral("xdotool"), args);
}

// Key strokes from another client, e.g. "shift+alt+v" or "Up Up Return".
inline void pressKeys(const QString &keys)
{
    xdotool(QStringList{QStringLiteral("key")} + keys.split(QLatin1Char(' '), Qt::SkipEmptyParts));
}

// 0: the probe, a separate X client, got the hot key; 1: someone holds it.
inline int probeHotKey(quint32 modifiers, quint32 virtualKey)
{
    QProcess probe;
    probe.setStandardErrorFile(QProcess::nullDevice());
    probe.start(QStringLiteral(HOTKEY_PROBE), {QString::number(modifiers), QString::number(virtualKey)});
    if (!probe.waitForFinished(10000))
        return -1;
    return probe.exitCode();
}

// The paste target window running as a separate program.
class PasteTarget
{
public:
    bool start(const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        m_process.setProcessEnvironment(env);
        m_process.start(QStringLiteral(PASTE_TARGET), QStringList());
        QDeadlineTimer deadline(10000);
        while (!m_ready && m_process.waitForReadyRead(int(deadline.remainingTime())))
            text();
        return m_ready;
    }
    ~PasteTarget()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    // The line edit's latest text ("\n" shown as a backslash and n).
    QString text()
    {
        while (m_process.canReadLine()) {
            const QString line = QString::fromUtf8(m_process.readLine()).chopped(1);
            m_ready = m_ready || line == QLatin1String("ready");
            if (line.startsWith(QLatin1String("text:")))
                m_text = line.mid(5);
        }
        return m_text;
    }

private:
    QProcess m_process;
    bool m_ready = false;
    QString m_text;
};

inline void wipeStore() { StoreHelper::wipe(); }
using StoreHelper::rows;

// Stores the entry as captured: its row, and its bytes under files/.
inline History keep(History h, const QByteArray &bytes, double timestamp, const QString &category)
{
    h.setFileHash(clipUtils::md5Hex(bytes));
    h.setTimeStamp(timestamp);
    h.setCategory(category);
    h.setLocalFileOk(true);
    h.save();
    QFile file(CFileManager::filesPath() + h.file_hash());
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return h;
}

inline History textEntry(const QString &text, double timestamp, const QString &category = QStringLiteral("history"))
{
    History h;
    h.setContent(clipUtils::previewText(text));
    h.setType(QStringLiteral("text_txt+enc"));
    h.setFileSize(text.size());
    return keep(h, text.toUtf8(), timestamp, category);
}

inline QImage sampleImage(const QColor &color)
{
    QImage image(120, 80, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

inline History imageEntry(const QColor &color, double timestamp, double fileSize = 2048,
                          const QString &category = QStringLiteral("history"))
{
    const QImage image = sampleImage(color);
    History h;
    h.setContent(clipUtils::imageToJpegBase64(image.scaledToWidth(40)));
    h.setType(QStringLiteral("image_tiff+zip+enc"));
    h.setFileSize(fileSize);
    return keep(h, clipUtils::imageToTiff(image), timestamp, category);
}

inline History fileEntry(const QString &name, const QByteArray &bytes, double timestamp)
{
    History h;
    h.setContent(name);
    h.setFileName(name);
    h.setType(QStringLiteral("file_") + name.section(QLatin1Char('.'), -1) + QStringLiteral("+zip+enc"));
    h.setFileSize(bytes.size());
    return keep(h, bytes, timestamp, QStringLiteral("history"));
}

} // namespace DesktopFixture
