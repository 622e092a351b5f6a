#pragma once

#include "net/CKeyRequest.h"

// Stores the user's first key pair on the service.
class CRequestZeroPush : public CKeyRequest
{
    Q_OBJECT

public:
    CRequestZeroPush();

    void buildBody() override;
};
