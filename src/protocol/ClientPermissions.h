#pragma once

#include "common/PeerIdentity.h"
#include "common/RequestFields.h"

class CLauncher;
class DllManager;

// Decides whether the client at the other end of a connection may run a module command or
// poll a result: same account, root (only for the system-account modules), or a command its
// module allows for other accounts. Who the client is was learnt once, when its connection
// was accepted; used on the connection's thread.
class ClientPermissions
{
public:
    ClientPermissions(DllManager &dllManager, CLauncher &launcher);

    // May set fields.unprivileged.
    bool CheckPermissions(const PeerIdentity &peer, RequestFields &fields);
    // The server's own account or root.
    static bool IsClientOnCurrentUser(const PeerIdentity &peer);
    static bool IsClientOnSystemUser(const PeerIdentity &peer);

    static bool isSystemAccountModule(const QByteArray &moduleName);

private:
    bool checkOtherAccount(RequestFields &fields);
    bool permit();

    DllManager &m_oDllManager; // process-wide; thread-safe
    CLauncher &m_oLauncher;    // process-wide; thread-safe
};
