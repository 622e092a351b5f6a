#pragma once

#include "net/CBaseRequest.h"

// Asks for the newest program version; the settings window reads the answer.
class CRequestCheckUpdate : public CBaseRequest
{
    Q_OBJECT

public:
    CRequestCheckUpdate();

    QVariant parseResponse(const QByteArray &body) override;
    void buildUrl() override;
    bool canContinue() override { return true; }
};
