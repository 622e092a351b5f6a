#pragma once

#include "app/OnceOnly.h"

#include <QObject>
#include <QString>
#include <QVariant>

class CBaseRequest;

// The account's requests: sign-up, sign-in (each after fetching the server's public
// key), password reset, sign-out, the start-up handshake and the version check.
// One sign-in, sign-up or reset runs at a time; the outcomes come as signals for a
// window to show.
class AccountFlow : public QObject
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(AccountFlow)

public:
    enum class Outcome {
        Done,
        NoReply,      // nothing came back (the request could not be sent)
        NetworkError, // a transport or HTTP error
        Refused,      // the service answered with an error code
        EmailTaken,
        UnknownEmail,
    };
    Q_ENUM(Outcome)

    enum class Version { NoReply, UpToDate, Newer, Other };
    Q_ENUM(Version)

    void signUp(const QString &address, const QString &password);
    void signIn(const QString &address, const QString &password);
    void resetPassword(const QString &address);
    bool isBusy() const { return m_busy; }
    // Forgets the keys, the token and the pull position, and drops the broker; the
    // local entries are the caller's to clear.
    void signOut();

    // The handshake (home page addresses, an expired sign-in) and the version check.
    void sendStartupRequests();
    void checkVersion();
    // The replies of those two; each deletes its request.
    void handshakeReply(CBaseRequest *request, const QVariant &var);
    void versionReply(CBaseRequest *request, const QVariant &var, bool fromButton);

Q_SIGNALS:
    // The public key could not be fetched: NoReply, NetworkError or Refused.
    void keyFailed(AccountFlow::Outcome outcome);
    // The key arrived and the sign-in itself was sent.
    void signInSent();
    void signInFinished(AccountFlow::Outcome outcome);
    void signUpFinished(AccountFlow::Outcome outcome);
    void resetFinished(AccountFlow::Outcome outcome);
    // The service reported the sign-in as expired.
    void sessionExpired();
    void versionChecked(bool fromButton, AccountFlow::Version state, const QString &version,
                        const QString &updateInfo, const QString &downloadUrl);

private:
    AccountFlow() = default;

    void fetchKeyThen(const QString &address, const QString &password, bool signUp);
    void sendSignUp(const QString &address, const QString &password);
    void sendSignIn(const QString &address, const QString &password);
    void finish(void (AccountFlow::*signal)(AccountFlow::Outcome), Outcome outcome);

    bool m_busy = false;
};
