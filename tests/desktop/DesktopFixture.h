#pragma once

// Helpers for the desktop tests: other X clients (xdotool, the hot-key probe and
// the paste target window) and entries with their stored files.

#include "app/CFileManager.h"
#include "app/clipUtils.h"
#include "store/DBFetcher.h"
#include "store/History.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBuffer>
#include <QDeadlineTimer>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QProcess>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>

namespace DesktopFixture {

inline int xdotool(const QStringList &args)
{
    return QProcess::execute(QStringLiteral("xdotool"), args);
}

inline void pressKeys(const QString &keys)
{
    xdotool({QStringLiteral("key"), keys});
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
    bool start()
    {
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

inline void wipeStore()
{
    DBFetcher::instance();
    QSqlQuery(QStringLiteral("delete from History")).exec();
}

inline int rows(const QString &where = QString())
{
    QSqlQuery q(QStringLiteral("select count(*) from History ") + where);
    return q.next() ? q.value(0).toInt() : -1;
}

inline void writeStored(const History &h, const QByteArray &bytes)
{
    QFile file(CFileManager::filesPath() + h.file_hash());
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
}

// A captured-looking text entry with its text stored under files/.
inline History textEntry(const QString &text, double timestamp, const QString &category = QStringLiteral("history"))
{
    History h;
    h.setContent(clipUtils::previewText(text));
    h.setFileHash(clipUtils::md5Hex(text.toUtf8()));
    h.setTimeStamp(timestamp);
    h.setType(QStringLiteral("text_txt+enc"));
    h.setFileSize(text.size());
    h.setCategory(category);
    h.setLocalFileOk(true);
    h.save();
    writeStored(h, text.toUtf8());
    return h;
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
    const QByteArray tiff = clipUtils::imageToTiff(image);
    History h;
    h.setContent(clipUtils::imageToJpegBase64(image.scaledToWidth(40)));
    h.setFileHash(clipUtils::md5Hex(tiff));
    h.setTimeStamp(timestamp);
    h.setType(QStringLiteral("image_tiff+zip+enc"));
    h.setFileSize(fileSize);
    h.setCategory(category);
    h.setLocalFileOk(true);
    h.save();
    writeStored(h, tiff);
    return h;
}

inline History fileEntry(const QString &name, const QByteArray &bytes, double timestamp)
{
    History h;
    h.setContent(name);
    h.setFileName(name);
    h.setFileHash(clipUtils::md5Hex(bytes));
    h.setTimeStamp(timestamp);
    const QString suffix = name.section(QLatin1Char('.'), -1);
    h.setType(QStringLiteral("file_") + suffix + QStringLiteral("+zip+enc"));
    h.setFileSize(bytes.size());
    h.setLocalFileOk(true);
    h.save();
    writeStored(h, bytes);
    return h;
}

// Presses the given button of the next modal message box as soon as it shows;
// the text it showed is written to *seen.
inline void answerNextBox(QMessageBox::StandardButton button, QString *seen = nullptr)
{
    auto *timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, button, seen] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (seen)
            *seen = box->text();
        box->button(button)->click();
        timer->stop();
        timer->deleteLater();
    });
    timer->start();
}

} // namespace DesktopFixture
