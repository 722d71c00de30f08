#pragma once

#include "common/RequestFields.h"

#include <QString>
#include <optional>

class CLauncher;
class ProcessUtils;
class DllManager;
class QTcpSocket;

// Decides whether the client process at the other end of a connection may run a module
// command or poll a result: same account, root (only for the system-account modules), or
// a command its module allows for other accounts. Used on the connection's thread.
class ClientPermissions
{
public:
    ClientPermissions(DllManager &dllManager, CLauncher &launcher);

    // May set fields.unprivileged.
    bool CheckPermissions(QTcpSocket *socket, RequestFields &fields);
    bool IsClientOnCurrentUser(QTcpSocket *socket);
    bool IsClientOnSystemUser(QTcpSocket *socket);
    static QString askDispatcherForDomainAndUsernameForPID(qint64 pid);

    static bool isSystemAccountModule(const QByteArray &moduleName);

private:
    bool checkOtherAccount(RequestFields &fields);
    qint64 clientPidOf(ProcessUtils &processUtils, QTcpSocket *socket);
    bool permit();

    DllManager &m_oDllManager; // process-wide; thread-safe
    CLauncher &m_oLauncher;    // process-wide; thread-safe
    std::optional<qint64> m_oClientPid;
};
