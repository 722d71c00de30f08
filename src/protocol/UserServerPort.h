#pragma once

#include "common/BaseException.h"
#include "common/PeerIdentity.h"

#include <QString>
#include <memory>

class ProcessUtils;

// The user's own server could not be found; the user-facing text goes to the page.
class UserServerPortException : public BaseException
{
public:
    UserServerPortException(const QString &message, const QString &userMessage);
    UserServerPortException *clone() const override;
    void raise() const override;
    QString getUserMessage() const { return m_oUserMessage; }

private:
    QString m_oUserMessage;
};

// The text a page may see for a failure of the port lookup.
QString userFacingMessageOf(const BaseException &exception);

// Where the server of a page's own account listens, asked of the dispatcher. One lookup
// per request, on the connection handler's thread.
class UserServerPort
{
public:
    // The client is the one that asks: the identity of its connection.
    UserServerPort(std::unique_ptr<ProcessUtils> processUtils, PeerIdentity client);
    ~UserServerPort();

    // The server of the client's account (multi-user machines).
    quint16 getUserServerPort();
    // The server of the one active session's account.
    quint16 getUserServerPortForActiveSession();

private:
    std::unique_ptr<ProcessUtils> m_poProcessUtils;
    PeerIdentity m_oClient;
};
