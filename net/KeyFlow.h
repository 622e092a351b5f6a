#pragma once

#include "app/OnceOnly.h"

#include <QObject>
#include <QVariantMap>

class CBaseRequest;

// The account key's exchanges with the service: fetch the stored key, unlock it
// with the PIN, make and store a first key, change the PIN, destroy and reset the
// key archive. Each step reports one outcome as a signal; the encryption window
// chooses the wizards and the messages. One step runs at a time.
class KeyFlow : public QObject
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(KeyFlow)

public:
    enum class Outcome {
        Done,
        Internal,       // nothing was sent, or no key could be made
        NetworkError,   // a transport or HTTP error
        Unknown,        // not a JSON reply, or a code this client does not expect
        NoKeyStored,    // the account has no key yet
        WrongPin,       // the current PIN does not open the key
        WrongPassword,  // the account password was refused
    };
    Q_ENUM(Outcome)

    bool isRunning() const { return m_running; }

    // Asks the service for the account's key; Done keeps it for unlock().
    void fetchKey();
    void unlock(const QString &pin);
    // After an unlock that opened a wrap of the first construction: its replacement
    // is due. rewrap() stores it quietly; the first wrap stays valid until then.
    bool rewrapDue() const;
    void rewrap();
    void activate(const QString &pin);
    void changePin(const QString &lastPin, const QString &newPin);
    void reset(const QString &password, const QString &newPin);

Q_SIGNALS:
    void keyFetched(KeyFlow::Outcome outcome);
    void unlockFinished(bool imported);
    void rewrapFinished();
    void activationFinished(KeyFlow::Outcome outcome);
    void pinChangeFinished(KeyFlow::Outcome outcome);
    void resetFinished(KeyFlow::Outcome outcome);

private:
    KeyFlow() = default;

    bool begin();
    void end(void (KeyFlow::*signal)(KeyFlow::Outcome), Outcome outcome);
    // Stores a new wrap of the key; a refusal or failure is reported through signal.
    void pushKey(const QVariantMap &dictionary, void (KeyFlow::*signal)(KeyFlow::Outcome));
    void sendReset(const QString &password, const QString &newPin);

    bool m_running = false;
    // The service's key dictionary unlock() opens.
    QVariantMap m_fetchedKey;
};
