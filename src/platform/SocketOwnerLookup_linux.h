#pragma once

#include "ProcFs_linux.h"

#include <sys/types.h>

// Finds the process holding a socket inode among the processes visible to us.
class SocketOwnerLookup
{
public:
    explicit SocketOwnerLookup(const ProcFs &procFs);

    // The socket's uid only orders the search: a socket handed to another account's
    // process is still found. 0 when no visible process holds it.
    qint64 ownerOf(quint64 inode, uid_t socketUid) const;

private:
    qint64 scan(quint64 inode, uid_t socketUid, const QList<qint64> &alreadyChecked) const;

    const ProcFs &m_oProcFs;
};
