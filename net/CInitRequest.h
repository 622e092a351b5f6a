#pragma once

#include "net/CBaseRequest.h"

// Start-up handshake: stores the server's public key and the encryption help page.
class CInitRequest : public CBaseRequest
{
    Q_OBJECT

public:
    CInitRequest();

    const QString &deviceName() const { return m_deviceName; }
    void setDeviceName(const QString &v) { m_deviceName = v; }

    QVariant parseResponse(const QByteArray &body) override;
    void buildUrl() override;
    bool canContinue() override { return true; }

private:
    QString m_deviceName;
};
