#include "net/CRequestUploadFile.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/Logging.h"
#include "app/clipUtils.h"
#include "e2ee/ZeroManager.h"
#include "net/CGetUploadTokenRequest.h"
#include "net/TlsTrust.h"
#include "store/HistoryQueries.h"

#include <QFile>
#include <QHttpMultiPart>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUuid>

using namespace Zorvel;

CRequestUploadFile::CRequestUploadFile()
{
    setPath(QStringLiteral("upload_file/"));
    setMethod(QStringLiteral("POST"));
    setTransferTimeout(Net::kFileTransferTimeoutMs);
}

void CRequestUploadFile::refuse(const char *why)
{
    if (why)
        qInfo("%s", why);
    Q_EMIT responseData(this, QVariant());
}

void CRequestUploadFile::startUpload()
{
    if (!canContinue()) {
        refuse("upload token stop by can't continue request");
        return;
    }
    if (m_history.file_size() > kMaxEntryBytes) {
        refuse(nullptr);
        return;
    }
    if (!clipUtils::isFileHash(m_fileHash)) {
        qWarning("upload stop by invalid file hash");
        refuse(nullptr);
        return;
    }
    const QStringList tags = m_history.type().split(QLatin1Char('+'));
    if (tags.contains(QLatin1String("enc"))) {
        if (m_history.key_hash().isEmpty()) {
            refuse("upload token stop by key hash empty");
            return;
        }
        if (m_history.key_hash() != ZeroManager::instance()->keyHash()) {
            HistoryQueries::resetUpload(m_history.file_hash());
            refuse("upload token stop by keys not equal");
            return;
        }
    }
    auto *token = new CGetUploadTokenRequest;
    token->setBaseUrl(baseUrl()); // the service this upload was aimed at
    token->setHistory(m_history);
    token->setFileHash(m_fileHash);
    token->setFileId(m_fileId);
    connect(token, &CBaseRequest::responseData, this, &CRequestUploadFile::requestUploadTokenFinish);
    token->start();
}

QString CRequestUploadFile::uploadSource() const
{
    const QStringList tags = m_history.type().split(QLatin1Char('+'));
    const QString source = CFileManager::entryPath(
        tags.contains(QLatin1String("zip")) ? CFileManager::zipPath() : CFileManager::filesPath(), m_fileHash);
    if (source.isEmpty() || !tags.contains(QLatin1String("enc")))
        return source;
    ZeroManager *zero = ZeroManager::instance();
    const QString target = CFileManager::encryptPath() + m_history.cipherHash(zero->keyHash());
    if (!zero->encryptFile(source, target)) {
        qWarning("upload stop: entry %s could not be encrypted", qPrintable(m_fileHash));
        return QString();
    }
    return target;
}

void CRequestUploadFile::requestUploadTokenFinish(CBaseRequest *callrequest, QVariant data)
{
    if (!callrequest->reply()) {
        delete callrequest;
        refuse(nullptr);
        return;
    }
    const int status = callrequest->httpStatus();
    if (status == 404 && !m_history.isEmpty()) {
        HistoryQueries::resetUpload(m_history.file_hash());
        delete callrequest;
        refuse("upload stop by 404");
        return;
    }
    if (status == 401) {
        clipUtils::removeUserToken();
        delete callrequest;
        refuse("upload stop by 401");
        return;
    }
    if (!callrequest->replyOk()) {
        delete callrequest;
        refuse("upload stop by network error");
        return;
    }
    delete callrequest;
    const QVariantMap token = data.toMap();
    if (token.isEmpty()) {
        refuse(nullptr);
        return;
    }
    const auto text = [&token](const char *key) { return token.value(QLatin1String(key)).toString(); };
    const QUrl host(text("host"));
    if (!host.isValid() || host.scheme() != QLatin1String("https")) {
        refuse("upload stop by an unusable upload host");
        return;
    }

    const QString source = uploadSource();
    auto *file = new QFile(source);
    if (source.isEmpty() || !file->open(QIODevice::ReadOnly)) {
        delete file;
        refuse("upload stop: the entry file is missing");
        return;
    }

    const QByteArray boundary =
        "--" + clipUtils::md5Hex(QUuid::createUuid().toString(QUuid::WithBraces).toUtf8()).toLatin1();
    // The object store is a peer like any other: its certificate is verified too.
    QNetworkRequest request(host);
    request.setSslConfiguration(TlsTrust::configuration());
    request.setTransferTimeout(transferTimeout());
    qCDebug(lcNet, "request url is :%s", qPrintable(host.toString(QUrl::RemoveQuery)));
    request.setRawHeader("Accept", "*/*");
    request.setRawHeader("Content-Type", "multipart/form-data; boundary=" + boundary);

    auto *form = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    form->setBoundary(boundary);
    const auto field = [form](const char *name, const QByteArray &value) {
        QHttpPart part;
        part.setRawHeader("Content-Disposition", QByteArray("form-data; name=\"") + name + '"');
        part.setBody(value);
        form->append(part);
    };
    field("key", text("key").toUtf8());
    field("policy", text("policy").toUtf8());
    field("callback", text("callback").toUtf8());
    field("OSSAccessKeyId", text("accessid").toUtf8());
    field("Signature", text("signature").toUtf8());
    field("success_action_status", "200");
    QHttpPart filePart;
    filePart.setRawHeader("Content-Disposition",
                          "form-data; name=\"file\"; filename=\"" + text("file_name").toUtf8() + '"');
    filePart.setRawHeader("Content-Type", "application/octet-stream");
    filePart.setBodyDevice(file);
    file->setParent(form);
    form->append(filePart);

    QNetworkReply *sent = networkAccessManager()->post(request, form);
    form->setParent(sent);
    track(sent);
    connect(sent, &QNetworkReply::uploadProgress, this, &CRequestUploadFile::uploadProgress);
}

QVariant CRequestUploadFile::parseResponse(const QByteArray &body)
{
    QJsonObject reply;
    if (!parseObject(body, &reply) || !reply.contains(QLatin1String("code")))
        return QVariant();
    const int code = reply.value(QLatin1String("code")).toInt();
    if (code == 0 && !m_history.isEmpty())
        HistoryQueries::setFileReady(true, m_history.key_hash(), m_history.file_hash());
    return code;
}
