#include "net/KeyFlow.h"

#include "e2ee/ZeroManager.h"
#include "net/CRequestSyncPublicKey.h"
#include "net/CRequestZeroGet.h"
#include "net/CRequestZeroModify.h"
#include "net/CRequestZeroPush.h"
#include "net/CRequestZeroRevert.h"
#include "net/RequestRunner.h"
#include "store/HistoryQueries.h"

#include <QNetworkReply>

namespace {

// Service codes of the key endpoints.
constexpr int kNoKeyStored = 404;
constexpr int kWrongPin = 401;
constexpr int kWrongPassword = -5;

int replyCode(const QVariant &var)
{
    return var.toMap().value(QStringLiteral("code")).toInt();
}

// Done when a JSON reply arrived; a reply that is not JSON is never taken for success.
KeyFlow::Outcome transport(CBaseRequest *request, const QVariant &var)
{
    if (!request->reply())
        return KeyFlow::Outcome::Internal;
    if (request->reply()->error() != QNetworkReply::NoError || request->httpStatus() != 200)
        return KeyFlow::Outcome::NetworkError;
    if (!var.isValid())
        return KeyFlow::Outcome::Unknown;
    return KeyFlow::Outcome::Done;
}

// A key reply judged: the transport's outcome, the one refusal this request tells apart,
// or any other refusal (logged with what was refused).
KeyFlow::Outcome judged(CBaseRequest *request, const QVariant &var, const char *what, int knownCode = 0,
                        KeyFlow::Outcome known = KeyFlow::Outcome::Unknown)
{
    const KeyFlow::Outcome outcome = transport(request, var);
    const int code = replyCode(var);
    if (outcome != KeyFlow::Outcome::Done || code == 0)
        return outcome;
    if (knownCode != 0 && code == knownCode)
        return known;
    qInfo("e2ee: the service refused %s (code %d)", what, code);
    return KeyFlow::Outcome::Unknown;
}

} // namespace

bool KeyFlow::begin()
{
    if (m_running)
        return false;
    m_running = true;
    return true;
}

void KeyFlow::end(void (KeyFlow::*signal)(KeyFlow::Outcome), Outcome outcome)
{
    m_running = false;
    Q_EMIT(this->*signal)(outcome);
}

void KeyFlow::fetchKey()
{
    if (!begin())
        return;
    RequestRunner::send(this, new CRequestZeroGet, [this](CRequestZeroGet *done, const QVariant &var) {
        Outcome outcome = transport(done, var);
        const int code = replyCode(var);
        const QVariantMap cipher = var.toMap().value(QStringLiteral("cipher")).toMap();
        if (outcome == Outcome::Done) {
            if (code == kNoKeyStored)
                outcome = Outcome::NoKeyStored;
            else if (code == 0 && !cipher.isEmpty())
                m_fetchedKey = cipher;
            else
                outcome = Outcome::Unknown;
        }
        end(&KeyFlow::keyFetched, outcome);
    });
}

void KeyFlow::unlock(const QString &pin)
{
    if (!begin())
        return;
    ZeroManager::instance()->importKeyAsync(pin, m_fetchedKey, [this](bool imported) {
        m_running = false;
        if (imported)
            m_fetchedKey.clear();
        else
            qInfo("e2ee: the PIN did not unlock the account's key");
        Q_EMIT unlockFinished(imported);
    });
}

bool KeyFlow::rewrapDue() const
{
    ZeroManager *zero = ZeroManager::instance();
    const QVariantMap rewrapped = zero->pendingDictionary();
    return !rewrapped.isEmpty() && rewrapped.value(QStringLiteral("key_hash")).toString() == zero->keyHash();
}

void KeyFlow::rewrap()
{
    if (!rewrapDue() || !begin())
        return;
    auto *request = new CRequestZeroPush;
    request->setKeyDict(ZeroManager::instance()->pendingDictionary());
    RequestRunner::send(this, request, [this](CRequestZeroPush *done, const QVariant &var) {
        if (transport(done, var) == Outcome::Done && replyCode(var) == 0)
            ZeroManager::instance()->commitPendingKey();
        else
            qInfo("e2ee: the key wrapped anew was not stored (code %d); the first wrap stays", replyCode(var));
        m_running = false;
        Q_EMIT rewrapFinished();
    });
}

void KeyFlow::activate(const QString &pin)
{
    if (!begin())
        return;
    ZeroManager::instance()->createKeyAsync(pin, [this](const QVariantMap &dictionary) {
        if (dictionary.isEmpty()) {
            qWarning("e2ee: no key could be made");
            end(&KeyFlow::activationFinished, Outcome::Internal);
            return;
        }
        pushKey(dictionary, &KeyFlow::activationFinished);
    });
}

void KeyFlow::pushKey(const QVariantMap &dictionary, void (KeyFlow::*signal)(KeyFlow::Outcome))
{
    auto *request = new CRequestZeroPush;
    request->setKeyDict(dictionary);
    RequestRunner::send(this, request, [this, signal](CRequestZeroPush *done, const QVariant &var) {
        const Outcome outcome = judged(done, var, "the new key");
        if (outcome == Outcome::Done)
            ZeroManager::instance()->commitPendingKey();
        end(signal, outcome);
    });
}

void KeyFlow::changePin(const QString &lastPin, const QString &newPin)
{
    if (!begin())
        return;
    ZeroManager::instance()->changePinAsync(lastPin, newPin, [this](const ZeroManager::PinChange &change) {
        if (change.wrongPin) {
            // Checked against this device's wrap: nothing needs to reach the service.
            qInfo("e2ee: the current PIN does not open this device's key");
            end(&KeyFlow::pinChangeFinished, Outcome::WrongPin);
            return;
        }
        if (change.dictionary.isEmpty()) {
            qWarning("e2ee: the key could not be wrapped under the new PIN");
            end(&KeyFlow::pinChangeFinished, Outcome::Internal);
            return;
        }
        if (change.earlierWrap) {
            // The service cannot check a proof against a wrap of the first construction;
            // the current PIN was checked here, and the same key is stored anew.
            pushKey(change.dictionary, &KeyFlow::pinChangeFinished);
            return;
        }
        auto *request = new CRequestZeroModify;
        request->setKeyDict(change.dictionary);
        request->setLastPwdHash(change.lastPinHash);
        RequestRunner::send(this, request, [this](CRequestZeroModify *done, const QVariant &var) {
            const Outcome outcome = judged(done, var, "the PIN change", kWrongPin, Outcome::WrongPin);
            if (outcome == Outcome::Done)
                ZeroManager::instance()->commitPendingKey();
            end(&KeyFlow::pinChangeFinished, outcome);
        });
    });
}

// The password is checked by the service, sealed to its current public key.
void KeyFlow::reset(const QString &password, const QString &newPin)
{
    if (!begin())
        return;
    RequestRunner::send(this, new CRequestSyncPublicKey,
                        [this, password, newPin](CRequestSyncPublicKey *done, const QVariant &var) {
                            Outcome outcome = transport(done, var);
                            if (outcome == Outcome::Done && replyCode(var) != 0)
                                outcome = Outcome::Unknown;
                            if (outcome != Outcome::Done) {
                                end(&KeyFlow::resetFinished, outcome);
                                return;
                            }
                            sendReset(password, newPin);
                        });
}

void KeyFlow::sendReset(const QString &password, const QString &newPin)
{
    ZeroManager::instance()->createKeyAsync(newPin, [this, password](const QVariantMap &dictionary) {
        if (dictionary.isEmpty()) {
            qWarning("e2ee: no key could be made");
            end(&KeyFlow::resetFinished, Outcome::Internal);
            return;
        }
        auto *request = new CRequestZeroRevert;
        request->setPassword(password);
        request->setKeyDict(dictionary);
        RequestRunner::send(this, request, [this](CRequestZeroRevert *done, const QVariant &var) {
            const Outcome outcome =
                judged(done, var, "the key reset", kWrongPassword, Outcome::WrongPassword);
            if (outcome == Outcome::Done) {
                ZeroManager *zero = ZeroManager::instance();
                zero->commitPendingKey();
                HistoryQueries::resetForKey(zero->keyHash());
            }
            end(&KeyFlow::resetFinished, outcome);
        });
    });
}
