#include "capture/Selvane.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/clipUtils.h"
#include "capture/ConfigureManager.h"
#include "capture/CopiedFiles.h"
#include "capture/EntryFiles.h"
#include "platform/SystemClipboard.h"
#include "store/HistoryQueries.h"
#include "store/HistoryStore.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QMutexLocker>
#include <QSqlDatabase>
#include <QSqlError>

using namespace Zorvel;

namespace {

QByteArray upToZero(const QByteArray &bytes)
{
    const int end = bytes.indexOf('\0');
    return end < 0 ? bytes : bytes.left(end);
}

// The change was the program's own (an arriving entry put on the clipboard).
bool isOwnWrite(const QString &hash)
{
    return ConfigureManager::instance()->takePendingHash(hash);
}

} // namespace

Selvane::Selvane()
{
    connect(SystemClipboard::system(), &SystemClipboard::changed, this, &Selvane::clip_changed);
    clip_changed(QClipboard::Clipboard);
}

void Selvane::run()
{
    QMutexLocker lock(&m_idleMutex);
    while (!isInterruptionRequested())
        m_idleWake.wait(&m_idleMutex, kWatcherIdleStepMs);
}

void Selvane::stop()
{
    {
        // Under the mutex, so the request cannot slip in between the thread's
        // check and its wait.
        QMutexLocker lock(&m_idleMutex);
        requestInterruption();
        m_idleWake.wakeAll();
    }
    wait();
}

void Selvane::recapture()
{
    clip_changed(QClipboard::Clipboard);
}

void Selvane::clearAndRecapture()
{
    HistoryStore::clearAll();
    recapture();
}

// Pastes go to CLIPBOARD and PRIMARY alike: Shift+Insert pastes PRIMARY in terminals
// and in many toolkits. Only CLIPBOARD changes are captured, so the PRIMARY write
// can never turn into an entry. A backend without a primary selection ignores it.
void Selvane::writeBoth(const QString &text)
{
    SystemClipboard::system()->setText(text, QClipboard::Clipboard);
    SystemClipboard::system()->setText(text, QClipboard::Selection);
}

void Selvane::setClipboardText(const QString &text, bool capture)
{
    if (!capture)
        m_ignoredText = text;
    writeBoth(text);
}

void Selvane::putText(const QString &text)
{
    writeBoth(text);
}

bool Selvane::copyRecord(const History &record, bool withSelection)
{
    History stored = record;
    if (!stored.exists())
        return false;
    stored.load();
    const QByteArray bytes = CFileManager::readFile(stored);
    if (bytes.isEmpty()) {
        // Not downloaded yet or removed: an empty clipboard would help nobody, and an
        // image put back without its bytes would be stored empty under its hash.
        qWarning("copyRecord: entry %s has no local file", qPrintable(stored.file_hash()));
        return false;
    }
    SystemClipboard *clipboard = SystemClipboard::system();
    if (stored.type().startsWith(QLatin1String("text"))) {
        const QString text = QString::fromUtf8(upToZero(bytes));
        clipboard->setText(text, QClipboard::Clipboard);
        if (withSelection)
            clipboard->setText(text, QClipboard::Selection);
        return true;
    }
    if (!stored.type().startsWith(QLatin1String("image")))
        return false;
    const QImage image = QImage::fromData(bytes);
    auto imageData = [&] {
        auto *data = new QMimeData;
        data->setData(QLatin1String(Mime::Type), stored.type().toUtf8());
        data->setData(QLatin1String(Mime::DataHash), stored.file_hash().toUtf8());
        data->setData(QLatin1String(Mime::Data), bytes);
        data->setImageData(image);
        return data;
    };
    clipboard->setMimeData(imageData(), QClipboard::Clipboard);
    if (withSelection)
        clipboard->setMimeData(imageData(), QClipboard::Selection);
    return true;
}

void Selvane::clip_changed(QClipboard::Mode mode)
{
    if (mode != QClipboard::Clipboard)
        return;
    const QMimeData *data = SystemClipboard::system()->mimeData(QClipboard::Clipboard);
    if (!data)
        return;
    const QLatin1String hint(Mime::PasswordManagerHint);
    if (data->hasFormat(hint) && data->data(hint).trimmed() == Mime::PasswordManagerSecret) {
        qInfo("capture: skipped clipboard content marked secret by a password manager");
        return;
    }

    History record;
    bool ready = false;
    const QString copiedFile = CopiedFiles::firstLocalPath(data);
    if (!copiedFile.isEmpty())
        ready = captureFile(copiedFile, record);
    else if (data->hasText())
        ready = captureText(data, record);
    else if (data->hasImage())
        ready = captureImage(data, record);
    if (ready)
        commit(record);
}

bool Selvane::captureFile(const QString &path, History &record)
{
    const QFileInfo info(path);
    // Regular files only: reading a FIFO or a device to hash it would never end.
    if (!info.isFile() || info.size() > kMaxEntryBytes)
        return false;
    const QString hash = clipUtils::fileMd5(path);
    if (hash.isEmpty()) {
        qWarning("capture: could not read the copied file %s", qPrintable(path));
        return false;
    }
    if (isOwnWrite(hash))
        return false;
    QString extension = info.suffix();
    if (extension.isEmpty())
        extension = QLatin1String(EntryType::UnknownExtension);

    record.setFileName(info.fileName());
    record.setContent(info.fileName());
    record.setFileHash(hash);
    record.setTimeStamp(clipUtils::currentTime());
    record.setDeviceName(clipUtils::deviceName());
    record.setType(QLatin1String(EntryType::FilePrefix) + extension + QLatin1String(EntryType::FileSuffix));
    record.setFileSize(info.size());
    record.setSecert(clipUtils::fileAsSecret());
    // A row without its file would be an entry that can never be pasted or sent.
    return EntryFiles::storeCopy(path, hash) || notStored(hash);
}

bool Selvane::captureText(const QMimeData *data, History &record)
{
    const QString text = data->text();
    // Empty text stores nothing, but pruning and the listeners still run.
    if (text.isEmpty())
        return true;
    if (!m_ignoredText.isEmpty() && text == m_ignoredText) {
        m_ignoredText.clear();
        return false;
    }
    const QByteArray utf8 = text.toUtf8();
    const QString hash = clipUtils::md5Hex(utf8);
    if (isOwnWrite(hash))
        return false;

    record.setContent(clipUtils::previewText(text));
    record.setTimeStamp(clipUtils::currentTime());
    record.setDeviceName(clipUtils::deviceName());
    record.setFileHash(hash);
    record.setType(QLatin1String(EntryType::Text));
    record.setFileSize(text.size());
    record.setSecert(clipUtils::isSecretText(text));
    return CFileManager::saveFile(utf8, record) || notStored(hash);
}

bool Selvane::captureImage(const QMimeData *data, History &record)
{
    const QImage image = qvariant_cast<QImage>(data->imageData());
    QByteArray bytes;
    QString hash;
    if (data->hasFormat(QLatin1String(Mime::Type))) {
        hash = QString::fromUtf8(upToZero(data->data(QLatin1String(Mime::DataHash))));
        bytes = data->data(QLatin1String(Mime::Data));
        // Another program can offer these formats too; a hash that could not name a
        // file, or no bytes, would lose the image, so it is encoded afresh instead.
        if (!clipUtils::isFileHash(hash) || bytes.isEmpty()) {
            qWarning("capture: ignored unusable \"%s\" image formats", Mime::Type);
            hash.clear();
            bytes.clear();
        }
    }
    if (hash.isEmpty()) {
        // Undecodable bytes under an image type would be stored as an empty image.
        if (image.isNull()) {
            qWarning("capture: the copied image could not be decoded; not stored");
            return false;
        }
        bytes = clipUtils::imageToTiff(image);
        hash = clipUtils::md5Hex(bytes);
    }
    if (isOwnWrite(hash))
        return false;

    if (!image.isNull())
        record.setContent(clipUtils::imageToJpegBase64(image.scaledToWidth(kThumbnailWidth, Qt::FastTransformation)));
    record.setTimeStamp(clipUtils::currentTime());
    record.setDeviceName(clipUtils::deviceName());
    record.setType(QLatin1String(EntryType::Image));
    record.setFileHash(hash);
    if (!CFileManager::saveFile(bytes, record))
        return notStored(hash);
    record.setFileSize(EntryFiles::compress(hash));
    return true;
}

bool Selvane::notStored(const QString &hash)
{
    qWarning("capture: entry %s not stored, its file could not be written", qPrintable(hash));
    return false;
}

void Selvane::commit(History &record)
{
    const QString hash = record.file_hash();
    if (!hash.isEmpty()) {
        // One transaction: one disk sync instead of one per statement, and no
        // half-refreshed entry if the program stops in between.
        QSqlDatabase db = QSqlDatabase::database();
        const bool ownTransaction = db.transaction();
        const qint64 now = clipUtils::currentTime();
        // A known entry keeps what is stored (service ids, the confidential mark).
        if (record.exists())
            record.load();
        record.setTimeStamp(now);
        HistoryQueries::setTimestamp(now, hash);
        record.setLocalFileOk(true);
        record.save();
        record.markChanged();
        if (ownTransaction && !db.commit()) {
            qWarning("capture: could not store entry %s: %s", qPrintable(hash), qPrintable(db.lastError().text()));
            db.rollback();
        }
    }
    HistoryStore::pruneCategory(QLatin1String(Category::History));
    Q_EMIT historyChanged();
}
