#pragma once

#include "net/CRequestPush.h"

// Deletes an entry on the service; the tray menu deletes it locally on success.
class CRequestPushDel : public CRequestPush
{
    Q_OBJECT

public:
    CRequestPushDel();

    QVariant parseResponse(const QByteArray &body) override;
    void buildUrl() override;
};
