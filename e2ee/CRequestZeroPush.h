#pragma once

#include "e2ee/CKeyRequest.h"

// Stores the user's first key pair on the service.
class CRequestZeroPush : public CKeyRequest
{
    Q_OBJECT

public:
    CRequestZeroPush();

    void buildBody() override;
};
