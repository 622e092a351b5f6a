#pragma once

#include "app/OnceOnly.h"
#include "store/History.h"

#include <QClipboard>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

class QMimeData;

// The clipboard watcher: turns every change of the standard clipboard into a
// "history" entry, and owns the program's own writes to the clipboard so that
// they are not captured twice. The object belongs to the main thread, where all
// capture work runs; the thread it starts only idles until stop().
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
    // Asks the idle thread to end and waits for it.
    void stop();

public Q_SLOTS:
    void clip_changed(QClipboard::Mode mode);

Q_SIGNALS:
    // A capture was committed and the history pruned.
    void historyChanged();

protected:
    void run() override;

private:
    Selvane();

    // Each fills record and returns true when the common tail should run.
    bool captureFile(const QString &path, History &record);
    bool captureText(const QMimeData *data, History &record);
    bool captureImage(const QMimeData *data, History &record);
    static bool notStored(const QString &hash);
    static void writeBoth(const QString &text);
    void commit(History &record);

    QString m_ignoredText;
    QMutex m_idleMutex;
    QWaitCondition m_idleWake;
};
