#include "SocketOwnerLookup_linux.h"

SocketOwnerLookup::SocketOwnerLookup(const ProcFs &procFs) : m_oProcFs(procFs) {}

qint64 SocketOwnerLookup::ownerOf(quint64 inode, uid_t socketUid) const
{
    const auto pids = m_oProcFs.pids();
    if (inode == 0 || !pids.ok())
        return 0;
    for (const qint64 pid : pids.value) {
        const auto owner = m_oProcFs.ownerUid(pid);
        if (owner.ok() && owner.value == socketUid && m_oProcFs.holdsSocket(pid, inode))
            return pid;
    }
    return 0;
}
