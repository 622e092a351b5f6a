#include "desktop/TextExport.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "store/HistoryQueries.h"

#include <QSaveFile>

QString TextExport::write(QString path)
{
    if (!path.endsWith(QLatin1String(".txt")))
        path += QLatin1String(".txt");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning("TextExport: cannot write %s", qPrintable(path));
        return QString();
    }
    const HistoryList texts =
        HistoryQueries::listByType(QLatin1String(Zorvel::Category::History), QStringLiteral("text%"));
    for (const History &entry : texts) {
        file.write(CFileManager::readFile(entry.file_hash()));
        file.write("\r\n\r\n");
    }
    if (!file.commit()) {
        qWarning("TextExport: cannot write %s", qPrintable(path));
        return QString();
    }
    return path;
}
