#include "e2ee/CRequestZeroRevert.h"

#include "app/Constants.h"
#include "app/clipUtils.h"
#include "e2ee/CindralRecords.h"
#include "e2ee/ZeroManager.h"

#include <QSettings>

CRequestZeroRevert::CRequestZeroRevert()
    : CKeyRequest(QStringLiteral("revert_key/"), QStringLiteral("POST"))
{
}

void CRequestZeroRevert::buildBody()
{
    QVariantMap map{{QStringLiteral("key_dict"), keyDict()}};
    const QByteArray publicKey =
        clipUtils::settings()->value(QLatin1String(Zorvel::Key::ServerPublicKey)).toByteArray();
    if (publicKey.isEmpty()) {
        qWarning("key reset sent without the server's public key: the service will refuse it");
    } else {
        const QByteArray digest = clipUtils::md5Hex(m_password.toUtf8()).toUtf8();
        const QByteArray sealed = ZeroManager::instance()->sealForServer(digest, publicKey);
        map.insert(QStringLiteral("pwd_hash_cipher"), QString::fromLatin1(sealed.toBase64()));
    }
    // Sent once: the password need not stay in memory for the request's lifetime.
    CindralRecords::wipe(m_password);
    setBody(toJson(map));
}
