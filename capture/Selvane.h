#pragma once

#include "app/OnceOnly.h"
#include "capture/EntryFiles.h"
#include "store/History.h"

#include <QClipboard>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <functional>

class QMimeData;

// The clipboard watcher: turns every change of the standard clipboard into a
// "history" entry, and owns the program's own writes to the clipboard so that
// they are not captured twice. The object belongs to the main thread, which reads
// the clipboard and commits rows; the thread it starts does the slow part of a
// capture (image decoding and encoding, hashing, file writing, compression), one
// capture after another in the order of the copies, so that the menu and the hot
// key stay responsive during a burst. Without start() that part runs inline.
class Selvane : public QThread
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(Selvane)

public:
    void recapture();
    void clearAndRecapture();
    // With capture false, the change this write causes is not captured.
    void setClipboardText(const QString &text, bool capture);
    static void putText(const QString &text);
    // Puts a stored text or image entry back on the clipboard and the selection;
    // images carry their hash so that capturing them again finds the same entry.
    // False when nothing was written (the entry's file is not on this device).
    // withSelection false leaves PRIMARY alone (an arriving entry, not a paste).
    static bool copyRecord(const History &record, bool withSelection = true);
    // Ends the worker thread after the capture it is busy with and drops the
    // captures still waiting: no row is committed after stop().
    void stop();
    // Captures read from the clipboard whose rows are not committed yet.
    bool busy() const { return m_pending > 0; }

public Q_SLOTS:
    void clip_changed(QClipboard::Mode mode);

Q_SIGNALS:
    // A capture was committed and the history pruned.
    void historyChanged();

protected:
    void run() override;

private:
    Selvane();

    // The worker's part of a capture: completes the record and writes its files;
    // false when nothing is to be committed. It touches neither the store nor the
    // settings, which belong to the main thread.
    using Work = std::function<bool(History &)>;
    struct Job {
        History record;
        Work work;
    };

    // Each fills what the main thread knows into record and returns the rest of
    // the work, or none when the change is not captured.
    Work captureFile(const QString &path, History &record);
    Work captureText(const QMimeData *data, History &record);
    Work captureImage(const QMimeData *data, const QStringList &offered, History &record);
    // Writes files/<hash> and zip/<hash> for bytes, taking the hash from them when
    // it is empty; false when nothing is to be committed (the program's own write,
    // or the file could not be written).
    static bool storeFiles(const QByteArray &bytes, QString &hash, qint64 &zipSize, EntryFiles::Content content);
    static bool notStored(const QString &hash);
    static void writeBoth(const QString &text);
    // Runs work inline when nothing is waiting (cheap work, or no worker thread),
    // otherwise queues it behind the earlier captures. Cheap work only writes the
    // record's file (text) and leaves the record alone.
    void enqueue(const History &record, const Work &work, bool cheap);
    void finish(History record, bool ok);
    // With writeFile, the file is written on a second thread while the row's
    // statements run, and the row is committed only if that succeeds.
    void commit(History &record, const std::function<bool()> &writeFile = {});

    QString m_ignoredText;
    QMutex m_queueMutex;
    QWaitCondition m_queueWake;
    QList<Job> m_jobs;
    // Captures handed to the worker and not yet finished; main thread only.
    int m_pending = 0;
    bool m_stopped = false;
};
