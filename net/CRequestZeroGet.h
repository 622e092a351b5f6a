#pragma once

#include "net/CKeyRequest.h"

// Fetches the key pair the service holds for the user ("code" 404 when none).
class CRequestZeroGet : public CKeyRequest
{
    Q_OBJECT

public:
    CRequestZeroGet();
};
