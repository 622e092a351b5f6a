#pragma once

// Helpers for the desktop tests: other X clients (xdotool, the hot-key probe and
// the paste target window) and entries with their stored files.

#include "app/CFileManager.h"
#include "app/clipUtils.h"
#include "support/StoreHelper.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

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

// Moves the real pointer there in small steps at a hand's pace, while this
// process keeps handling events: a menu that has not seen the pointer yet
// ignores its first few motions. The caller waits for the effect it expects.
inline void movePointer(QWidget *widget, const QPoint &pos)
{
    const QPoint global = widget->mapToGlobal(pos);
    QStringList args;
    for (int step = 8; step >= 0; --step) {
        args << QStringLiteral("mousemove") << QString::number(global.x() + step) << QString::number(global.y())
             << QStringLiteral("sleep") << QStringLiteral("0.02");
    }
    auto *hand = new QProcess;
    QObject::connect(hand, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), hand, &QObject::deleteLater);
    hand->start(QStringLiteral("xdotool"), args);
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
        if (!m_process.waitForStarted(10000))
            return false;
        QDeadlineTimer deadline(10000);
        while (!readLines().contains(QStringLiteral("ready"))) {
            if (deadline.hasExpired())
                return false;
            m_process.waitForReadyRead(200);
        }
        return true;
    }
    ~PasteTarget()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    // The line edit's latest text ("\n" shown as a backslash and n).
    QString text()
    {
        readLines();
        return m_text;
    }

private:
    QStringList readLines()
    {
        while (m_process.canReadLine()) {
            const QString line = QString::fromUtf8(m_process.readLine()).chopped(1);
            m_lines << line;
            if (line.startsWith(QLatin1String("text:")))
                m_text = line.mid(5);
        }
        return m_lines;
    }
    QProcess m_process;
    QStringList m_lines;
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

// Answers the next modal message boxes, one after the other, with the given
// buttons; the text each box showed is appended to *seen.
inline void answerBoxes(const QList<QMessageBox::StandardButton> &buttons, QStringList *seen = nullptr)
{
    auto *timer = new QTimer;
    timer->setInterval(20);
    auto pending = std::make_shared<QList<QMessageBox::StandardButton>>(buttons);
    auto answered = std::make_shared<QPointer<QMessageBox>>();
    QObject::connect(timer, &QTimer::timeout, [timer, pending, answered, seen] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box == answered->data() || !box->isVisible())
            return;
        *answered = box;
        if (seen)
            seen->append(box->text());
        box->button(pending->takeFirst())->click();
        if (pending->isEmpty()) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

} // namespace DesktopFixture
