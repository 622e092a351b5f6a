#pragma once

#include "net/CBaseRequest.h"

// Sign-up; a successful reply signs the user in like a sign-in does.
class CRegisterrequest : public CBaseRequest
{
    Q_OBJECT

public:
    CRegisterrequest();

    const QString &userName() const { return m_userName; }
    void setUserName(const QString &v) { m_userName = v; }
    const QString &passwordHash() const { return m_passwordHash; }
    void setPasswordHash(const QString &v) { m_passwordHash = v; }
    const QString &deviceName() const { return m_deviceName; }
    void setDeviceName(const QString &v) { m_deviceName = v; }

    QVariant parseResponse(const QByteArray &body) override;
    void buildUrl() override;
    bool canContinue() override { return true; }

private:
    QString m_userName;
    QString m_passwordHash;
    QString m_deviceName;
};
