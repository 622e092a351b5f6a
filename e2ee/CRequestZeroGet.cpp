#include "e2ee/CRequestZeroGet.h"

CRequestZeroGet::CRequestZeroGet()
    : CKeyRequest(QStringLiteral("key/"), QStringLiteral("GET"))
{
}
