#pragma once

#include "net/CBaseRequest.h"

// Fetches the server's public key, with which sign-in and key reset seal the
// password hash.
class CRequestSyncPublicKey : public CBaseRequest
{
    Q_OBJECT

public:
    CRequestSyncPublicKey();

    QVariant parseResponse(const QByteArray &body) override;
    void buildUrl() override;
    bool canContinue() override { return true; }
};
