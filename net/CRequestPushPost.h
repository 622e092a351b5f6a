#pragma once

#include "net/CRequestPush.h"

// Uploads an entry the service does not know yet; the reply gives it its ids.
class CRequestPushPost : public CRequestPush
{
    Q_OBJECT

public:
    CRequestPushPost();

    QVariant parseResponse(const QByteArray &body) override;
    void buildBody() override;
};
