#include "net/CRequestZeroPush.h"

CRequestZeroPush::CRequestZeroPush()
    : CKeyRequest(QStringLiteral("key/"), QStringLiteral("PUT"))
{
}

void CRequestZeroPush::buildBody()
{
    setBody(toJson(QVariantMap{{QStringLiteral("key_dict"), keyDict()}}));
}
