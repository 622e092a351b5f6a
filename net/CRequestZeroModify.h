#pragma once

#include "net/CKeyRequest.h"

// Replaces the stored wrapping of the key after a PIN change. The service checks
// the hash of the old PIN against the stored wrapping; the PIN never leaves.
class CRequestZeroModify : public CKeyRequest
{
    Q_OBJECT

public:
    CRequestZeroModify();

    void buildBody() override;

    const QString &lastPwdHash() const { return m_lastPwdHash; }
    void setLastPwdHash(const QString &v) { m_lastPwdHash = v; }

private:
    QString m_lastPwdHash;
};
