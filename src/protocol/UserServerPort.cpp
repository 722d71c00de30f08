#include "UserServerPort.h"

#include "logging/LogStatement.h"
#include "platform/ProcessUtils.h"
#include "platform/ProcessUtilsExceptions.h"
#include "settings/CSettings.h"

#include <QCoreApplication>

UserServerPortException::UserServerPortException(const QString &message, const QString &userMessage)
    : BaseException(message), m_oUserMessage(userMessage)
{
}

UserServerPortException *UserServerPortException::clone() const
{
    return new UserServerPortException(*this);
}

void UserServerPortException::raise() const
{
    throw *this;
}

QString userFacingMessageOf(const BaseException &exception)
{
    if (const auto *portFailure = dynamic_cast<const UserServerPortException *>(&exception))
        return portFailure->getUserMessage();
    if (const auto *platformFailure = dynamic_cast<const ProcessUtilsImplException *>(&exception))
        return platformFailure->getUserMessage();
    return ProcessUtilsImplException::defaultUserMessage();
}

UserServerPort::UserServerPort(std::unique_ptr<ProcessUtils> processUtils, PeerIdentity client)
    : m_poProcessUtils(std::move(processUtils)), m_oClient(std::move(client))
{
}

UserServerPort::~UserServerPort() = default;

quint16 UserServerPort::getUserServerPort()
{
    const quint16 basePort = static_cast<quint16>(CSettings::instance()->ReadPort());
    const QString &account = m_oClient.account;
    const QString name = m_poProcessUtils->getProcessNameForPid(QCoreApplication::applicationPid());
    const quint16 port = m_poProcessUtils->getPortOfUserProcess(account, name, basePort);
    VYR_LOG_SERVER(Info) << "Read server port(" << port << ") and username(" << account << ") for client uid("
                         << (m_oClient.uid ? qint64(*m_oClient.uid) : -1) << ") and process with Name ("
                         << name << ")";
    if (port == 0) {
        const UserServerPortException failure(
            "UserServerPort::getUserServerPort, cannot receive user server port!",
            "Could not establish connection with VYR server. Server on user accoutn is probably down.");
        VYR_LOG_SERVER(Error) << "Exception: " << failure.getStackTrace();
        throw failure;
    }
    return port;
}

quint16 UserServerPort::getUserServerPortForActiveSession()
{
    const quint16 basePort = static_cast<quint16>(CSettings::instance()->ReadPort());
    const QString account = m_poProcessUtils->getDomainAndUsernameForSingleActiveSession();
    const QString name = m_poProcessUtils->getProcessNameForPid(QCoreApplication::applicationPid());
    const quint16 port = m_poProcessUtils->getPortOfUserProcess(account, name, basePort);
    VYR_LOG_SERVER(Info) << "Port: " << port << ", user: " << account << ", process: " << name;
    if (port == 0) {
        const UserServerPortException failure(
            "UserServerPort::getUserServerPortForActiveSession, cannot receive user server port!",
            "Could not establish connection with VYR server. Server on user account is probably down.");
        VYR_LOG_SERVER(Error) << "Exception: " << failure.getStackTrace();
        throw failure;
    }
    return port;
}
