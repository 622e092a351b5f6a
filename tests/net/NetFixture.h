#pragma once

// Helpers for tests that talk to the local service: run a request to its single
// report, create accounts, hold a content key, push and look up entries.

#include "app/clipUtils.h"
#include "e2ee/ZeroManager.h"
#include "net/CBaseRequest.h"
#include "net/CLoginRequest.h"
#include "net/CRegisterrequest.h"
#include "net/CRequestPushGet.h"
#include "net/CRequestSyncPublicKey.h"
#include "net/CRequestUploadFile.h"
#include "net/HistoryService.h"
#include "net/SyncHandOver.h"
#include "support/StoreHelper.h"

#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <QUuid>

#include <functional>

namespace NetFixture {

struct Outcome {
    QVariant data;
    int reports = 0;
    bool synchronous = false; // reported before start() returned
    bool hadReply = false;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;

    QVariantMap map() const { return data.toMap(); }
    int code() const { return data.toMap().value("code", -99999).toInt(); }
};

// Starts the request, waits for its report and deletes it.
inline Outcome run(CBaseRequest *request, const std::function<void(CBaseRequest *)> &start = &CBaseRequest::start)
{
    Outcome out;
    QSignalSpy spy(request, &CBaseRequest::responseData);
    start(request);
    out.synchronous = spy.count() > 0;
    if (spy.isEmpty())
        spy.wait(60000);
    out.reports = spy.count();
    if (!spy.isEmpty())
        out.data = spy.first().at(1);
    out.hadReply = request->reply() != nullptr;
    if (request->reply())
        out.error = request->reply()->error();
    delete request;
    return out;
}

// One request about one entry (push, delete, favourite...), run to its report.
template <typename Request>
Outcome send(const History &h)
{
    auto *request = new Request;
    request->setHistory(h);
    return run(request);
}

// The upload of an entry's file (fetching the upload token first), run to its report.
inline Outcome upload(const History &h, const QString &fileId, const QString &baseUrl = QString())
{
    auto *request = new CRequestUploadFile;
    if (!baseUrl.isEmpty())
        request->setBaseUrl(baseUrl);
    request->setHistory(h);
    request->setFileHash(h.file_hash());
    request->setFileId(fileId);
    return run(request, [](CBaseRequest *r) { static_cast<CRequestUploadFile *>(r)->startUpload(); });
}

// The service's copy of an entry, looked up by its hash; empty when it has none.
inline QVariantMap serviceCopy(const QString &fileHash)
{
    History probe;
    probe.setFileHash(fileHash);
    const Outcome out = send<CRequestPushGet>(probe);
    return out.code() == 0 ? out.map().value("history").toMap() : QVariantMap();
}

// Runs the push chain from one pushPending() call to the file-service hand-over.
inline bool pushPending()
{
    QSignalSpy handOver(SyncHandOver::instance(), &SyncHandOver::fileTransferRequested);
    HistoryService::instance()->pushPending();
    return handOver.count() > 0 || handOver.wait(30000);
}

inline QString uniqueEmail()
{
    return QString("net.%1@zorvel.test").arg(QUuid::createUuid().toString(QUuid::Id128).left(16));
}

inline Outcome signUp(const QString &email, const QString &password)
{
    auto *r = new CRegisterrequest;
    r->setUserName(email);
    r->setPasswordHash(clipUtils::md5Hex(password.toUtf8()));
    return run(r);
}

// Sign-in as the settings window does it: public key first, then the sealed hash.
inline Outcome signIn(const QString &email, const QString &password)
{
    const Outcome key = run(new CRequestSyncPublicKey);
    if (!key.data.isValid())
        return key;
    auto *r = new CLoginRequest;
    r->setUserName(email);
    r->setPassword(password);
    return run(r);
}

// A new content key, held locally (the service is not told).
inline QVariantMap createKey(const QString &pin = "1234")
{
    const QVariantMap dictionary = ZeroManager::instance()->createKey(pin);
    ZeroManager::instance()->commitPendingKey();
    return dictionary;
}

inline void wipeStore() { StoreHelper::wipe(); }
using StoreHelper::rows;
using StoreHelper::stored;

// A captured text entry, whole in its content, marked as changed unless told otherwise.
inline History captureText(const QString &text, double timestamp = 0, bool pending = true)
{
    History h;
    h.setContent(text);
    h.setFileHash(clipUtils::md5Hex(text.toUtf8()));
    h.setTimeStamp(timestamp > 0 ? timestamp : clipUtils::currentTime());
    h.setDeviceName(clipUtils::deviceName());
    h.setType("text_txt+enc");
    h.setFileSize(text.size());
    h.setLocalFileOk(true);
    h.save();
    if (pending)
        h.markChanged();
    return h;
}

} // namespace NetFixture
