#include "capture/Selvane.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/clipUtils.h"
#include "capture/ClipboardImage.h"
#include "capture/ConfigureManager.h"
#include "capture/CopiedFiles.h"
#include "capture/EntryFiles.h"
#include "platform/SystemClipboard.h"
#include "store/HistoryQueries.h"
#include "store/HistoryStore.h"
#include "store/SqlTransaction.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QMutexLocker>
#include <QThreadPool>

#include <future>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>

using namespace Zorvel;

namespace {

// Qt's names for plain text and for any image it can read.
const QLatin1String kTextPlain("text/plain");
const QLatin1String kQtImage("application/x-qt-image");

QByteArray upToZero(const QByteArray &bytes)
{
    const int end = bytes.indexOf('\0');
    return end < 0 ? bytes : bytes.left(end);
}

// Runs a text entry's file write beside the row's statements on a thread that is
// kept waiting: starting a thread for each copy costs a fair part of the write.
std::future<bool> writeAside(const std::function<bool()> &writeFile)
{
    static struct Writer : QThreadPool {
        Writer()
        {
            setMaxThreadCount(1);
            setExpiryTimeout(-1);
        }
    } writer;
    auto task = std::make_shared<std::packaged_task<bool()>>(writeFile);
    std::future<bool> written = task->get_future();
    writer.start([task] { (*task)(); });
    return written;
}

// The change was the program's own (an arriving entry put on the clipboard).
bool isOwnWrite(const QString &hash)
{
    return ConfigureManager::instance()->takePendingHash(hash);
}

} // namespace

Selvane::Selvane()
{
    // Created here, on the main thread, before the worker first asks it.
    ConfigureManager::instance();
    connect(SystemClipboard::system(), &SystemClipboard::changed, this, &Selvane::clip_changed);
    clip_changed(QClipboard::Clipboard);
}

void Selvane::run()
{
    QMutexLocker lock(&m_queueMutex);
    for (;;) {
        while (m_jobs.isEmpty() && !isInterruptionRequested())
            m_queueWake.wait(&m_queueMutex);
        if (isInterruptionRequested())
            return;
        Job job = m_jobs.takeFirst();
        lock.unlock();
        const bool ok = job.work(job.record);
        lock.relock();
        // Delivered in the order of the copies: one thread, one queue.
        QMetaObject::invokeMethod(
            this, [this, record = job.record, ok]() { finish(record, ok); }, Qt::QueuedConnection);
    }
}

void Selvane::stop()
{
    m_stopped = true;
    {
        // Under the mutex, so the request cannot slip in between the thread's
        // check and its wait.
        QMutexLocker lock(&m_queueMutex);
        requestInterruption();
        m_jobs.clear();
        m_queueWake.wakeAll();
    }
    wait();
    m_pending = 0;
}

void Selvane::enqueue(const History &record, const Work &work, bool cheap)
{
    if (m_pending == 0 && cheap) {
        History inline_ = record;
        // The file's disk sync overlaps the statements.
        commit(inline_, [work, copy = History(record)]() mutable { return work(copy); });
        return;
    }
    if (m_pending == 0 && !isRunning()) {
        History inline_ = record;
        if (work(inline_))
            commit(inline_);
        return;
    }
    ++m_pending;
    QMutexLocker lock(&m_queueMutex);
    m_jobs.append(Job{record, work});
    m_queueWake.wakeAll();
}

void Selvane::finish(History record, bool ok)
{
    // After stop() the program is ending: its files are complete, but no row is
    // committed any more.
    if (m_stopped)
        return;
    --m_pending;
    if (ok)
        commit(record);
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
    const QByteArray bytes = CFileManager::readFile(stored.file_hash());
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
    const QImage image = clipUtils::decodeImage(bytes);
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
    // Listed once and looked up here: on X11 each hasFormat() asks the display
    // server again, a round trip every time.
    const QStringList offered = data->formats();
    const QLatin1String hint(Mime::PasswordManagerHint);
    if (offered.contains(hint) && data->data(hint).trimmed() == Mime::PasswordManagerSecret) {
        qInfo("capture: skipped clipboard content marked secret by a password manager");
        return;
    }

    if (m_stopped)
        return;

    History record;
    Work work;
    bool cheap = false;
    const QString copiedFile = CopiedFiles::firstLocalPath(data, offered);
    if (!copiedFile.isEmpty()) {
        work = captureFile(copiedFile, record);
    } else if (offered.contains(kTextPlain) || offered.contains(QLatin1String(Mime::UriList))) {
        // What QMimeData::hasText() and hasImage() ask, from the list.
        work = captureText(data, record);
        cheap = true;
    } else if (offered.contains(kQtImage)) {
        work = captureImage(data, offered, record);
    }
    if (work)
        enqueue(record, work, cheap);
}

Selvane::Work Selvane::captureFile(const QString &path, History &record)
{
    const QFileInfo info(path);
    // Regular files only: reading a FIFO or a device to hash it would never end.
    if (!info.isFile() || info.size() > kMaxEntryBytes)
        return Work();
    QString extension = info.suffix();
    if (extension.isEmpty())
        extension = QLatin1String(EntryType::UnknownExtension);

    record.setFileName(info.fileName());
    record.setContent(info.fileName());
    record.setTimeStamp(clipUtils::currentTime());
    record.setDeviceName(clipUtils::deviceName());
    record.setType(QLatin1String(EntryType::FilePrefix) + extension + QLatin1String(EntryType::FileSuffix));
    record.setSecert(clipUtils::fileAsSecret());
    return [path](History &record) {
        // Read once: hashed, stored and compressed from memory.
        QFile file(path);
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.read(kMaxEntryBytes + 1) : QByteArray();
        if (file.error() != QFileDevice::NoError || (bytes.isEmpty() && file.size() > 0)) {
            qWarning("capture: could not read the copied file %s", qPrintable(path));
            return false;
        }
        // It grew after the size check.
        if (bytes.size() > kMaxEntryBytes)
            return false;
        QString hash;
        qint64 zipSize = 0;
        if (!storeFiles(bytes, hash, zipSize, EntryFiles::Content::File))
            return false;
        record.setFileHash(hash);
        record.setFileSize(bytes.size());
        return true;
    };
}

Selvane::Work Selvane::captureText(const QMimeData *data, History &record)
{
    const QString text = data->text();
    // Empty text stores nothing, but pruning and the listeners still run.
    if (text.isEmpty())
        return [](History &) { return true; };
    if (!m_ignoredText.isEmpty() && text == m_ignoredText) {
        m_ignoredText.clear();
        return Work();
    }
    const QByteArray utf8 = text.toUtf8();
    const QString hash = clipUtils::md5Hex(utf8);
    if (isOwnWrite(hash))
        return Work();

    record.setContent(clipUtils::previewText(text));
    record.setTimeStamp(clipUtils::currentTime());
    record.setDeviceName(clipUtils::deviceName());
    record.setFileHash(hash);
    record.setType(QLatin1String(EntryType::Text));
    record.setFileSize(text.size());
    record.setSecert(ConfigureManager::isSecretText(text));
    return [utf8](History &record) { return CFileManager::saveFile(utf8, record.file_hash()) || notStored(record.file_hash()); };
}

Selvane::Work Selvane::captureImage(const QMimeData *data, const QStringList &offered, History &record)
{
    QByteArray bytes;
    QString hash;
    if (offered.contains(QLatin1String(Mime::Type))) {
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
    record.setTimeStamp(clipUtils::currentTime());
    record.setDeviceName(clipUtils::deviceName());
    record.setType(QLatin1String(EntryType::Image));
    record.setFileHash(hash);
    // A stored entry put back keeps its thumbnail: its bytes are only copied, never
    // decoded. Anything else is fetched here, as the clipboard must be read on this
    // thread, and decoded by the worker.
    QImage image;
    QByteArray encoded;
    if (hash.isEmpty() || !record.exists()) {
        encoded = ClipboardImage::encodedBytes(data, offered);
        if (encoded.isEmpty())
            image = qvariant_cast<QImage>(data->imageData());
        // The offering program delivered nothing (it said why).
        if (encoded.isEmpty() && image.isNull() && hash.isEmpty())
            return Work();
    }
    return [bytes, hash, image, encoded](History &record) mutable {
        if (!encoded.isEmpty())
            image = clipUtils::decodeImage(encoded);
        // Made on a second thread meanwhile: until the deflating starts, this one is
        // the only one at work.
        std::future<QString> thumbnail;
        if (!image.isNull()) {
            thumbnail = std::async(std::launch::async, [image] {
                return clipUtils::imageToJpegBase64(image.scaledToWidth(kThumbnailWidth, Qt::FastTransformation));
            });
        }
        if (hash.isEmpty()) {
            // Undecodable bytes under an image type would be stored as an empty image.
            if (image.isNull()) {
                qWarning("capture: the copied image could not be decoded; not stored");
                return false;
            }
            bytes = clipUtils::imageToTiff(image);
        }
        qint64 zipSize = 0;
        if (!storeFiles(bytes, hash, zipSize, EntryFiles::Content::Image))
            return false;
        if (thumbnail.valid())
            record.setContent(thumbnail.get());
        record.setFileHash(hash);
        record.setFileSize(zipSize);
        return true;
    };
}

bool Selvane::storeFiles(const QByteArray &bytes, QString &hash, qint64 &zipSize, EntryFiles::Content content)
{
    // The program's own write is not stored again; a row without its file would be
    // an entry that can never be pasted or sent.
    enum class Saved { Own, Failed, Done };
    const auto save = [&bytes](const QString &name) {
        if (isOwnWrite(name))
            return Saved::Own;
        return CFileManager::saveFile(bytes, name) ? Saved::Done : Saved::Failed;
    };
    Saved saved = Saved::Failed;
    std::optional<EntryFiles::Packed> packed;
    if (hash.isEmpty()) {
        // New content: hashed and written on a second thread while this one deflates
        // it, so that a capture uses both cores; the archive needs both, and starts
        // once they are there.
        const std::shared_future<std::pair<QString, Saved>> saving =
            std::async(std::launch::async, [&bytes, &save] {
                const QString name = clipUtils::md5Hex(bytes);
                return std::make_pair(name, save(name));
            }).share();
        packed = EntryFiles::pack(bytes, content, [&saving] {
            return saving.get().second == Saved::Done ? saving.get().first : QString();
        });
        std::tie(hash, saved) = saving.get();
    } else {
        saved = save(hash);
    }
    if (saved == Saved::Failed)
        return notStored(hash);
    if (saved == Saved::Own)
        return false;
    zipSize = packed ? EntryFiles::store(hash, *packed) : EntryFiles::compress(hash, bytes, content);
    return true;
}

bool Selvane::notStored(const QString &hash)
{
    qWarning("capture: entry %s not stored, its file could not be written", qPrintable(hash));
    return false;
}

void Selvane::commit(History &record, const std::function<bool()> &writeFile)
{
    std::future<bool> written;
    if (writeFile)
        written = writeAside(writeFile);
    // A row is committed only with its file complete.
    const auto fileMissing = [&written] { return written.valid() && !written.get(); };
    const QString hash = record.file_hash();
    const QString history = QLatin1String(Category::History);
    if (hash.isEmpty()) {
        if (fileMissing())
            return;
        HistoryStore::pruneCategory(history);
        Q_EMIT historyChanged();
        return;
    }
    HistoryList pruned;
    {
        // One transaction for the entry and the pruning it causes: one commit to
        // the disk instead of one per statement, and no half-refreshed entry if
        // the program stops in between.
        SqlTransaction transaction;
        const qint64 now = clipUtils::currentTime();
        // A known entry keeps what is stored (service ids, the confidential mark).
        if (record.exists())
            record.load();
        record.setTimeStamp(now);
        HistoryQueries::setTimestamp(now, hash);
        record.setLocalFileOk(true);
        record.save();
        record.markChanged();
        pruned = HistoryQueries::takeBeyondLimit(history);
        if (fileMissing())
            return;
        if (!transaction.commit()) {
            qWarning("capture: could not store entry %s: %s", qPrintable(hash), qPrintable(transaction.lastError()));
            pruned.clear();
        }
    }
    // Their files go only once the rows are gone for good.
    HistoryStore::removeUnusedFiles(pruned);
    Q_EMIT historyChanged();
}
