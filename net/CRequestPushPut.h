#pragma once

#include "net/CRequestPush.h"

// Updates the metadata of an entry the service knows; never carries content.
class CRequestPushPut : public CRequestPush
{
    Q_OBJECT

public:
    CRequestPushPut();

    QVariant parseResponse(const QByteArray &body) override;
    void buildBody() override;
};
