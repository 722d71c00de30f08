#include "ClientPermissions.h"

#include "CSignController.h"
#include "http/CommandId.h"
#include "logging/LogStatement.h"
#include "modules/CLauncher.h"
#include "modules/DllManager.h"
#include "modules/DllModule.h"
#include "modules/ModuleHold.h"

ClientPermissions::ClientPermissions(DllManager &dllManager, CLauncher &launcher)
    : m_oDllManager(dllManager), m_oLauncher(launcher)
{
}

bool ClientPermissions::isSystemAccountModule(const QByteArray &moduleName)
{
    static const QList<QByteArray> systemModules = {"KeepAlive", "updater", "moduleupgrader", "watchdog"};
    return systemModules.contains(moduleName);
}

bool ClientPermissions::IsClientOnCurrentUser(const PeerIdentity &peer)
{
    const bool result = peer.onServerAccount || peer.onSystemAccount;
    VYR_LOG_SERVER(Debug) << "Client domain and username: " << peer.account;
    VYR_LOG_SERVER(Debug) << "Result: " << result;
    return result;
}

bool ClientPermissions::IsClientOnSystemUser(const PeerIdentity &peer)
{
    const bool onSystem = peer.onSystemAccount;
    VYR_LOG_SERVER(Debug) << "bClientOnSystemUser: " << onSystem;
    return onSystem;
}

bool ClientPermissions::CheckPermissions(const PeerIdentity &peer, RequestFields &fields)
{
    const bool onCurrentUser = IsClientOnCurrentUser(peer);
    const bool onSystemUser = IsClientOnSystemUser(peer);
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
        const ModuleHold module = m_oDllManager.holdModule(fields.libraryName);
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
        QByteArray commandId = escapeAndConvertToValidID(fields.requestMap.value("cmdId"));
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
