#pragma once

#include "net/CBaseRequest.h"

// Asks the service to mail a password-reset link.
class CRequestFindPwd : public CBaseRequest
{
    Q_OBJECT

public:
    CRequestFindPwd();

    const QString &email() const { return m_email; }
    void setEmail(const QString &v) { m_email = v; }

    QVariant parseResponse(const QByteArray &body) override;
    void buildUrl() override;
    bool canContinue() override { return true; }

private:
    QString m_email;
};
