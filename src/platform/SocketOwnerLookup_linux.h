#pragma once

#include "ProcFs_linux.h"

#include <sys/types.h>

// Finds the process holding a socket inode among the processes of the socket's owner: an
// account's sockets are held by its own processes, and another account's are none of ours
// to look into.
class SocketOwnerLookup
{
public:
    explicit SocketOwnerLookup(const ProcFs &procFs);

    // 0 when no visible process of that uid holds it.
    qint64 ownerOf(quint64 inode, uid_t socketUid) const;

private:
    const ProcFs &m_oProcFs;
};
