#include "app/PrivateFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtDebug>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool narrow(const QByteArray &path, mode_t wanted)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0) {
        qWarning("settings: cannot inspect %s: %s", path.constData(), std::strerror(errno));
        return false;
    }
    if ((st.st_mode & 07777) == wanted)
        return true;
    if (::chmod(path.constData(), wanted) != 0) {
        qWarning("settings: cannot restrict %s to mode %o: %s", path.constData(), unsigned(wanted),
                 std::strerror(errno));
        return false;
    }
    qInfo("settings: %s narrowed from mode %o to %o", path.constData(), unsigned(st.st_mode & 07777),
          unsigned(wanted));
    return true;
}

} // namespace

bool PrivateFile::secure(const QString &filePath)
{
    const QFileInfo info(filePath);
    const QString folder = info.absolutePath();
    QDir().mkpath(QFileInfo(folder).absolutePath());
    const QByteArray folderName = QFile::encodeName(folder);
    if (::mkdir(folderName.constData(), 0700) != 0 && errno != EEXIST) {
        qWarning("settings: cannot create %s: %s", folderName.constData(), std::strerror(errno));
        return false;
    }
    if (!narrow(folderName, 0700))
        return false;
    const QByteArray fileName = QFile::encodeName(info.absoluteFilePath());
    const int fd = ::open(fileName.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        qWarning("settings: cannot create %s: %s", fileName.constData(), std::strerror(errno));
        return false;
    }
    ::close(fd);
    return narrow(fileName, 0600);
}
