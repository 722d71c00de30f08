#include "SocketOwnerLookup_linux.h"

SocketOwnerLookup::SocketOwnerLookup(const ProcFs &procFs) : m_oProcFs(procFs) {}

qint64 SocketOwnerLookup::ownerOf(quint64 inode, uid_t socketUid) const
{
    if (inode == 0)
        return 0;
    const auto pids = m_oProcFs.pids();
    if (!pids.ok())
        return 0;
    QList<qint64> others;
    for (const qint64 pid : pids.value) {
        const auto owner = m_oProcFs.ownerUid(pid);
        if (!owner.ok())
            continue;
        if (owner.value != socketUid) {
            others.append(pid);
            continue;
        }
        if (m_oProcFs.holdsSocket(pid, inode))
            return pid;
    }
    for (const qint64 pid : std::as_const(others)) {
        if (m_oProcFs.holdsSocket(pid, inode))
            return pid;
    }
    return 0;
}
