#pragma once

#include "common/BaseException.h"

#include <QString>
#include <memory>

class ProcessUtils;
class QTcpSocket;

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
    UserServerPort(std::unique_ptr<ProcessUtils> processUtils, QTcpSocket *socket);
    ~UserServerPort();

    // The server of the account that owns the client process (multi-user machines).
    quint16 getUserServerPort();
    // The server of the one active session's account.
    quint16 getUserServerPortForActiveSession();

private:
    std::unique_ptr<ProcessUtils> m_poProcessUtils;
    QTcpSocket *m_poSocket; // the request's connection; owned by its handler
};
