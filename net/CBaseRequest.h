#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariant>

class QJsonObject;
class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// One exchange with the service's HTTP API. A caller creates a subclass, sets its
// inputs, connects responseData, calls start() and deletes the object in its slot;
// every started request reports exactly once.
class CBaseRequest : public QObject
{
    Q_OBJECT

public:
    explicit CBaseRequest(QObject *parent = nullptr);
    ~CBaseRequest() override;

    virtual QVariant parseResponse(const QByteArray &body);
    virtual void buildUrl();
    virtual void buildBody();
    virtual bool canContinue();

    QString fullUrl() const;
    QString commonQuery() const;
    void start();

    const QString &baseUrl() const { return m_baseUrl; }
    void setBaseUrl(const QString &v) { m_baseUrl = v; }
    const QString &path() const { return m_path; }
    void setPath(const QString &v) { m_path = v; }
    const QString &url() const { return m_url; }
    void setUrl(const QString &v) { m_url = v; }
    const QString &deviceToken() const { return m_deviceToken; }
    void setDeviceToken(const QString &v) { m_deviceToken = v; }
    const QString &version() const { return m_version; }
    void setVersion(const QString &v) { m_version = v; }
    const QString &deviceType() const { return m_deviceType; }
    void setDeviceType(const QString &v) { m_deviceType = v; }
    const QString &method() const { return m_method; }
    void setMethod(const QString &v) { m_method = v; }
    const QString &userToken() const { return m_userToken; }
    void setUserToken(const QString &v) { m_userToken = v; }
    QNetworkReply *reply() const { return m_reply; }
    void setReply(QNetworkReply *v) { m_reply = v; }
    QNetworkAccessManager *networkAccessManager() const { return m_nam; }
    void setNetworkAccessManager(QNetworkAccessManager *v) { m_nam = v; }
    const QByteArray &body() const { return m_body; }
    void setBody(const QByteArray &v) { m_body = v; }
    const QUrl &redirectTarget() const { return m_redirectTarget; }
    int transferTimeout() const { return m_transferTimeoutMs; }
    void setTransferTimeout(int ms) { m_transferTimeoutMs = ms; }
    void setRedirectTarget(const QUrl &v) { m_redirectTarget = v; }

    // The HTTP status of the last reply, 0 without one.
    int httpStatus() const;
    // True when a reply arrived without a network or HTTP error.
    bool replyOk() const;

Q_SIGNALS:
    void responseData(CBaseRequest *request, QVariant data);

public Q_SLOTS:
    void requestFinish(QNetworkReply *reply);

protected:
    // Delivers the reply's end to requestFinish() and keeps its size in bounds;
    // for every reply sent through networkAccessManager().
    void track(QNetworkReply *reply);
    // True after parseResponse when the reply asks for another exchange of the same
    // request (the next page): it is sent again and reports once, after the last one.
    virtual bool wantsNextRound() const { return false; }
    // Parses a reply body that must be a JSON object; anything else is logged once
    // and yields false.
    bool parseObject(const QByteArray &body, QJsonObject *object) const;
    // Passes the reply's "cipher" member, when present, to the key check.
    static void verifyCipher(const QJsonObject &object);
    static QByteArray toJson(const QVariantMap &map);

private:
    void prepare(QNetworkRequest &request, bool withIdentity) const;
    void watchSize(QNetworkReply *reply);
    void finish(const QVariant &data);
    void endSessionOnRefusal();
    QString logUrl(const QUrl &url) const;

    QString m_baseUrl;
    QString m_path;
    QString m_url;
    QString m_deviceToken;
    QString m_version;
    QString m_deviceType;
    QString m_method = QStringLiteral("GET");
    QString m_userToken;
    QNetworkReply *m_reply = nullptr;
    // The reply last sent, until it is done.
    QNetworkReply *m_inFlight = nullptr;
    QNetworkAccessManager *m_nam = nullptr;
    QByteArray m_body;
    QUrl m_redirectTarget;

    int m_transferTimeoutMs;
    int m_redirects = 0;
    bool m_oversized = false;
    bool m_reported = false;
};
