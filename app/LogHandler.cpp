#include "app/LogHandler.h"

#include "app/CFileManager.h"
#include "app/Constants.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QTextStream>

namespace {

QMutex &logMutex()
{
    static QMutex mutex;
    return mutex;
}

// Something inside the handler (a Qt warning while opening the file) must not
// recurse into the handler on the same thread: that line is simply dropped.
thread_local bool t_inHandler = false;

// log.txt -> log.txt.1 -> log.txt.2; the oldest goes.
void rotateIfFull(const QString &path)
{
    if (QFileInfo(path).size() < Zorvel::kLogRotateBytes)
        return;
    const auto numbered = [&path](int n) { return path + QLatin1Char('.') + QString::number(n); };
    QFile::remove(numbered(Zorvel::kLogFiles - 1));
    for (int n = Zorvel::kLogFiles - 2; n >= 1; --n)
        QFile::rename(numbered(n), numbered(n + 1));
    QFile::rename(path, numbered(1));
}

} // namespace

void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Q_UNUSED(context)
    if (t_inHandler)
        return;
    QMutexLocker locker(&logMutex());
    if (type == QtDebugMsg)
        return;
    t_inHandler = true;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ddd"));
    const QString line = QStringLiteral("%1 %2").arg(stamp, message);

    const QString path = CFileManager::rootPath() + QStringLiteral("/log.txt");
    rotateIfFull(path);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        QTextStream out(&file);
        out.setCodec("UTF-8");
        out << line << "\r\n";
        out.flush();
        file.close();
    }
    t_inHandler = false;
}
