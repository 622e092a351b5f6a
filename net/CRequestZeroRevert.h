#pragma once

#include "net/CKeyRequest.h"

// Destroys the user's encrypted online data and stores a new key pair. The
// account password proves the user; only its MD5 text travels, sealed to the
// service's public key.
class CRequestZeroRevert : public CKeyRequest
{
    Q_OBJECT

public:
    CRequestZeroRevert();

    void buildBody() override;

    const QString &password() const { return m_password; }
    void setPassword(const QString &v) { m_password = v; }

private:
    QString m_password;
};
