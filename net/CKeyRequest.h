#pragma once

#include "net/CBaseRequest.h"

#include <QVariantMap>

// What the four key/ and revert_key/ requests share: they need a signed-in user
// but, unlike other requests, no key (they are how a key arrives), the user
// token goes in the query, and the whole reply object is the result.
class CKeyRequest : public CBaseRequest
{
    Q_OBJECT

public:
    QVariant parseResponse(const QByteArray &body) override;
    void buildUrl() override;
    bool canContinue() override;

    const QVariantMap &keyDict() const { return m_keyDict; }
    void setKeyDict(const QVariantMap &v) { m_keyDict = v; }

protected:
    CKeyRequest(const QString &path, const QString &method);

private:
    QVariantMap m_keyDict;
};
