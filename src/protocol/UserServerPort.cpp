#include "UserServerPort.h"

#include "logging/LogStatement.h"
#include "platform/ProcessUtils.h"
#include "platform/ProcessUtilsExceptions.h"
#include "settings/CSettings.h"

#include <QCoreApplication>

QString userFacingMessageOf(const BaseException &exception)
{
    if (const auto *platformFailure = dynamic_cast<const ProcessUtilsImplException *>(&exception))
        return platformFailure->getUserMessage();
    return ProcessUtilsImplException::defaultUserMessage();
}

UserServerPort::UserServerPort(std::unique_ptr<ProcessUtils> processUtils, PeerIdentity client)
    : m_poProcessUtils(std::move(processUtils)), m_oClient(std::move(client))
{
}

UserServerPort::~UserServerPort() = default;

std::optional<quint16> UserServerPort::getUserServerPort()
{
    // Without the uid nobody can say which account asks, and an account text is only a name.
    if (!m_oClient.uid) {
        VYR_LOG_SERVER(Info) << "No server port for a client of unknown account(" << m_oClient.account << ")";
        return std::nullopt;
    }
    const quint16 basePort = static_cast<quint16>(CSettings::instance()->ReadPort());
    const QString name = m_poProcessUtils->getProcessNameForPid(QCoreApplication::applicationPid());
    const quint16 port = m_poProcessUtils->getPortOfUserProcess(*m_oClient.uid, name, basePort);
    VYR_LOG_SERVER(Info) << "Read server port(" << port << ") and username(" << m_oClient.account
                         << ") for client uid(" << *m_oClient.uid << ") and process with Name (" << name
                         << ")";
    if (port == 0)
        return std::nullopt;
    return port;
}
