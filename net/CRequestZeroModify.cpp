#include "net/CRequestZeroModify.h"

CRequestZeroModify::CRequestZeroModify()
    : CKeyRequest(QStringLiteral("key/"), QStringLiteral("POST"))
{
}

void CRequestZeroModify::buildBody()
{
    setBody(toJson(QVariantMap{{QStringLiteral("key_dict"), keyDict()},
                               {QStringLiteral("last_pwd_hash"), m_lastPwdHash}}));
}
