#pragma once

#include "net/CBaseRequest.h"

// Sign-in. The password is held in memory only; what travels is its MD5 text,
// sealed for the server when the server's public key is known.
class CLoginRequest : public CBaseRequest
{
    Q_OBJECT

public:
    CLoginRequest();

    const QString &userName() const { return m_userName; }
    void setUserName(const QString &v) { m_userName = v; }
    const QString &password() const { return m_password; }
    void setPassword(const QString &v) { m_password = v; }
    const QString &deviceName() const { return m_deviceName; }
    void setDeviceName(const QString &v) { m_deviceName = v; }

    QVariant parseResponse(const QByteArray &body) override;
    void buildUrl() override;
    void buildBody() override;
    bool canContinue() override { return true; }

    // Stores token, user id and e-mail from a successful sign-in or sign-up reply.
    // Keeps the broker account of a reply that carries one ({"mqtt": {...}}).
    static void storeBrokerAccount(const QJsonObject &reply);
    static void storeAccount(const QJsonObject &reply, const QString &userName);

private:
    QString m_userName;
    QString m_password;
    QString m_deviceName;
};
