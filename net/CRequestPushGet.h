#pragma once

#include "net/CRequestPush.h"

// Fetches one entry, by history id or, with id 0, by file hash.
class CRequestPushGet : public CRequestPush
{
    Q_OBJECT

public:
    CRequestPushGet();

    QVariant parseResponse(const QByteArray &body) override;
    void buildUrl() override;
};
