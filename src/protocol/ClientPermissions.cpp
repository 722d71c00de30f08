#include "ClientPermissions.h"

#include "CSignController.h"
#include "logging/LogStatement.h"
#include "modules/CLauncher.h"
#include "modules/DllManager.h"
#include "modules/DllModule.h"
#include "platform/ProcessUtils.h"
#include "platform/ProcessUtilsExceptions.h"
#include "platform/ProcessUtilsFactory.h"
#include "settings/CSettings.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTcpSocket>
#include <QUrl>

namespace {
constexpr char kUnknownAccount[] = "<UNKNOWN>";

QString clientAccount(ProcessUtils &processUtils, qint64 clientPid)
{
    try {
        return processUtils.getDomainAndUsernameForPid(clientPid);
    } catch (const ProcessUtilsImplException &) {
        VYR_LOG_SERVER(Info) << "Too low permissions. Ask dispatcher for username";
        return ClientPermissions::askDispatcherForDomainAndUsernameForPID(clientPid);
    }
}

// The dispatcher's certificate is signed by this machine's local authority, which the
// provisioning tool puts beside the server certificate.
QSslConfiguration dispatcherTlsConfiguration()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    const QString certificateDir =
        QFileInfo(CSettings::instance()->ReadSslCertificateCertAndKeyFiles().first).path();
    configuration.addCaCertificates(certificateDir + QStringLiteral("/VYR-ca.pem"));
    return configuration;
}
} // namespace

ClientPermissions::ClientPermissions(DllManager &dllManager, CLauncher &launcher)
    : m_oDllManager(dllManager), m_oLauncher(launcher)
{
}

qint64 ClientPermissions::clientPidOf(ProcessUtils &processUtils, QTcpSocket *socket)
{
    // Both identity checks of one request ask for the same peer: the socket table is read once.
    if (!m_oClientPid)
        m_oClientPid = socket ? processUtils.getPidOfProcessAtPort(socket->peerPort()) : 0;
    return *m_oClientPid;
}

bool ClientPermissions::isSystemAccountModule(const QByteArray &moduleName)
{
    static const QList<QByteArray> systemModules = {"KeepAlive", "updater", "moduleupgrader", "watchdog"};
    return systemModules.contains(moduleName);
}

bool ClientPermissions::IsClientOnCurrentUser(QTcpSocket *socket)
{
    const quint16 peerPort = socket ? socket->peerPort() : 0;
    bool result = false;
    try {
        auto processUtils = createProcessUtils();
        const qint64 clientPid = clientPidOf(*processUtils, socket);
        const qint64 serverPid = QCoreApplication::applicationPid();
        VYR_LOG_SERVER(Debug) << "Client PID: " << clientPid;
        VYR_LOG_SERVER(Debug) << "Server PID: " << serverPid;
        if (clientPid == 0 || serverPid == 0)
            return false;
        const QString client = clientAccount(*processUtils, clientPid);
        VYR_LOG_SERVER(Debug) << "Client domain and username: " << client;
        const QString server = processUtils->getDomainAndUsernameForPid(serverPid);
        VYR_LOG_SERVER(Debug) << "Server domain and username: " << server;
        if (server.compare(client, Qt::CaseInsensitive) == 0) {
            VYR_LOG_SERVER(Debug) << "Client is on the same user as server.";
            result = true;
        } else {
            const QString system = processUtils->getDomainAndUsernameForSystemAccount();
            VYR_LOG_SERVER(Debug) << "System domain and username: " << system;
            result = system.compare(client, Qt::CaseInsensitive) == 0;
            if (result)
                VYR_LOG_SERVER(Info) << "Client is on SYSTEM user.";
            else
                VYR_LOG_SERVER(Debug) << "Client is on different user then server and not on SYSTEM user!";
        }
    } catch (...) {
        VYR_LOG_SERVER(Warning) << "Insufficient permissions for client on port " << peerPort;
        return false;
    }
    VYR_LOG_SERVER(Debug) << "Result: " << result;
    return result;
}

bool ClientPermissions::IsClientOnSystemUser(QTcpSocket *socket)
{
    const quint16 peerPort = socket ? socket->peerPort() : 0;
    try {
        auto processUtils = createProcessUtils();
        const qint64 clientPid = clientPidOf(*processUtils, socket);
        const bool onSystem = clientPid != 0 && processUtils->isSystemProcess(clientPid);
        VYR_LOG_SERVER(Debug) << "bClientOnSystemUser: " << onSystem;
        return onSystem;
    } catch (...) {
        VYR_LOG_SERVER(Warning) << "Insufficient permissions for client on port " << peerPort;
        return false;
    }
}

bool ClientPermissions::CheckPermissions(QTcpSocket *socket, RequestFields &fields)
{
    const bool onCurrentUser = IsClientOnCurrentUser(socket);
    const bool onSystemUser = IsClientOnSystemUser(socket);
    VYR_LOG_SERVER(Debug) << "Chacking permissions for: " << fields.libraryName << "/" << fields.command;
    VYR_LOG_SERVER(Debug) << "Client on current user: " << onCurrentUser;
    VYR_LOG_SERVER(Debug) << "Client on system user: " << onSystemUser;
    if (onSystemUser) {
        if (isSystemAccountModule(fields.libraryName))
            return permit();
        VYR_LOG_SERVER(Error) << "Request to \"" << fields.libraryName << "\" cannot be processed";
        return false;
    }
    if (onCurrentUser)
        return permit();
    return checkOtherAccount(fields);
}

bool ClientPermissions::checkOtherAccount(RequestFields &fields)
{
    const bool serverCommand = CSignController::IsServerCommand(fields.command);
    VYR_LOG_SERVER(Debug) << "Server command: " << serverCommand;
    if (!serverCommand) {
        m_oDllManager.loadModuleForSession(fields.libraryName, fields.sessionId);
        DllModule *module = m_oDllManager.getModule(fields.libraryName);
        if (!module) {
            VYR_LOG_SERVER(Warning) << "Request not permitted - no such module: " << fields.libraryName;
            return false;
        }
        const tpfun function = module->getFunction(QString::fromUtf8(fields.command));
        const bool unprivileged = function && module->canUnprivilegedRun(function);
        VYR_LOG_SERVER(Debug) << "Can run unprivileged: " << unprivileged;
        if (unprivileged) {
            fields.unprivileged = true;
            return permit();
        }
    }
    if (fields.command == "GET_RESULT") {
        QByteArray commandId = CSignController::escapeAndConvertToValidID(fields.requestMap.value("cmdId"));
        if (commandId.isEmpty())
            commandId = fields.commandId;
        if (m_oLauncher.IsUnprivilegedJob(fields.sessionId, commandId))
            return permit();
    }
    VYR_LOG_SERVER(Debug) << "Request not permitted";
    return false;
}

bool ClientPermissions::permit()
{
    VYR_LOG_SERVER(Debug) << "Request permitted";
    return true;
}

QString ClientPermissions::askDispatcherForDomainAndUsernameForPID(qint64 pid)
{
    VYR_LOG_SERVER(Info) << "Asking dispatcher for info about PID=" << pid;
    QString result = QString::fromLatin1(kUnknownAccount);
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(QStringLiteral("localhost"));
    url.setPort(CSettings::instance()->ReadPort());
    url.setPath(QStringLiteral("/%1").arg(QStringLiteral("GET_USERNAME_FOR_PID")));
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setSslConfiguration(dispatcherTlsConfiguration());
    QNetworkAccessManager manager;
    QEventLoop loop;
    // No time limit of its own: the dispatcher on this machine answers or the connection fails.
    QNetworkReply *reply =
        manager.post(request, "processPid=" + QByteArray::number(static_cast<quint64>(pid)));
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        const int statusCode = status.toInt();
        VYR_LOG_SERVER(Debug) << "iResStatusCode=" << statusCode;
        if (statusCode == 200) {
            result = QString::fromUtf8(reply->readAll());
            VYR_LOG_SERVER(Debug) << "oReplyBody=" << result;
        }
    }
    VYR_LOG_SERVER(Info) << "Response info about PID <" << pid
                         << "> set to oClientDomainAndUsername=" << result;
    return result;
}
