#include "net/CRequestDownloadFile.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/EntryCheck.h"
#include "app/clipUtils.h"
#include "e2ee/ZeroManager.h"
#include "store/HistoryQueries.h"

#include <JlCompress.h>
#include <quazip.h>
#include <quazipfileinfo.h>

#include <QFile>
#include <QFileInfo>

using namespace Zorvel;

CRequestDownloadFile::CRequestDownloadFile()
{
    setPath(QStringLiteral("download_file/"));
    setTransferTimeout(Net::kFileTransferTimeoutMs);
}

void CRequestDownloadFile::buildUrl()
{
    setUrl(fullUrl() + QStringLiteral("&file_id=") + QString::number(m_fileId) + QStringLiteral("&file_hash=")
           + m_fileHash + QStringLiteral("&user_token=") + userToken());
}

bool CRequestDownloadFile::extractEntry(const QString &archive, const QString &name, const QString &target)
{
    {
        QuaZip zip(archive);
        if (!zip.open(QuaZip::mdUnzip) || !zip.setCurrentFile(name, QuaZip::csSensitive)) {
            qWarning("download: the archive holds no entry %s", qPrintable(name));
            return false;
        }
        QuaZipFileInfo64 info;
        // minizip never inflates beyond the declared size, so checking it bounds the output.
        if (!zip.getCurrentFileInfo(&info) || info.uncompressedSize > quint64(Net::kMaxExtractedBytes)) {
            qWarning("download: archive entry %s is larger than %lld bytes, refused", qPrintable(name),
                     static_cast<long long>(Net::kMaxExtractedBytes));
            return false;
        }
    }
    QFile::remove(target);
    if (JlCompress::extractFile(archive, name, target).isEmpty()) {
        QFile::remove(target);
        return false;
    }
    return true;
}

QVariant CRequestDownloadFile::parseResponse(const QByteArray &body)
{
    if (body.isEmpty())
        return QVariant();
    const QString hash = m_fileHash;
    const QString landing = CFileManager::entryPath(CFileManager::tmpPath(), hash);
    if (landing.isEmpty()) {
        qWarning("download: invalid file hash, dropped");
        return QVariant();
    }
    ZeroManager *zero = ZeroManager::instance();
    const QString encrypted = CFileManager::tmpPath() + m_history.cipherHash(zero->keyHash());
    const QString archive = CFileManager::entryPath(CFileManager::zipPath(), hash);
    const QString result = CFileManager::entryPath(CFileManager::filesPath(), hash);
    for (const QString &stale : {landing, encrypted, archive})
        QFile::remove(stale);
    QFile out(landing);
    // Buffered bytes that do not fit (disk full) fail only at flush.
    if (!out.open(QIODevice::WriteOnly) || out.write(body) != body.size() || !out.flush()) {
        qWarning("download: could not write %s: %s", qPrintable(landing), qPrintable(out.errorString()));
        out.remove();
        return QVariant();
    }
    out.close();

    QStringList tags = m_history.type().split(QLatin1Char('+'));
    tags.removeFirst();
    bool ok = true;
    for (int i = tags.size() - 1; i >= 0 && ok; --i) {
        if (tags.at(i) == QLatin1String("enc")) {
            ok = QFile::rename(landing, encrypted) && zero->decryptFile(encrypted, landing);
            if (!ok)
                qWarning("download: entry %s could not be decrypted", qPrintable(hash));
        } else if (tags.at(i) == QLatin1String("zip")) {
            ok = QFile::rename(landing, archive) && extractEntry(archive, hash, landing);
        }
    }
    // The service could serve another entry's file under this hash; texts and files
    // name the MD5 of their plain bytes.
    if (ok && EntryCheck::hashNamesPlainBytes(m_history.type()) && clipUtils::fileMd5(landing) != hash) {
        qWarning("download: entry %s holds other content than its hash names; dropped", qPrintable(hash));
        QFile::remove(landing);
        ok = false;
    }
    if (ok) {
        QFile::remove(result);
        ok = QFile::rename(landing, result);
    }
    if (ok && !m_history.isEmpty())
        HistoryQueries::setLocalFileOk(hash);
    return QVariant();
}
