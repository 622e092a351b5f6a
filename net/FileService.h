#pragma once

#include "app/OnceOnly.h"

#include <QObject>
#include <QVariant>

class CBaseRequest;

// Moves entry files between this device and the object store, newest first, one at
// a time: an entry whose file is only here is uploaded, one whose file is only on
// the service is downloaded.
class FileService : public QObject
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(FileService)

public:
    void transferNext();
    bool isBusy() const { return m_busy; }

Q_SIGNALS:
    // An upload of the entry's file is under way (for progress displays).
    void uploadProgress(const QString &fileHash, qint64 sent, qint64 total);

public Q_SLOTS:
    void requestDownloadFinish(CBaseRequest *request, QVariant data);
    void requestUploadFinish(CBaseRequest *request, QVariant data);

private:
    FileService() = default;
    // 404: the service lost the entry, so it is uploaded again from scratch; 401: signed out.
    static void applyStatus(CBaseRequest *request, const QString &fileHash, bool recordEmpty);

    bool m_busy = false;
};
