#include "net/CRequestZeroGet.h"

CRequestZeroGet::CRequestZeroGet()
    : CKeyRequest(QStringLiteral("key/"), QStringLiteral("GET"))
{
}
