#pragma once

#include "net/CBaseRequest.h"

// Deletes the user's whole history on the service (favourites excepted); the
// receivers clear the local copy when it succeeded.
class CClearHistoryRequest : public CBaseRequest
{
    Q_OBJECT

public:
    CClearHistoryRequest();

    QVariant parseResponse(const QByteArray &body) override;
    void buildUrl() override;
};
