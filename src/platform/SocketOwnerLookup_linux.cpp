#include "SocketOwnerLookup_linux.h"

#include <QMutex>

namespace {

// Requests come in bursts from the same few browser processes, so the owners found last
// are tried first. Only a hint: every candidate is checked against its own fd table.
class RecentOwners
{
public:
    QList<qint64> snapshot() const
    {
        QMutexLocker locker(&m_oMutex);
        return m_oPids;
    }

    void remember(qint64 pid)
    {
        QMutexLocker locker(&m_oMutex);
        m_oPids.removeOne(pid);
        m_oPids.prepend(pid);
        if (m_oPids.size() > kCapacity)
            m_oPids.removeLast();
    }

private:
    static constexpr qsizetype kCapacity = 8;
    mutable QMutex m_oMutex;
    QList<qint64> m_oPids;
};

// Shared by all connection threads for the life of the process.
RecentOwners g_oRecentOwners;

} // namespace

SocketOwnerLookup::SocketOwnerLookup(const ProcFs &procFs) : m_oProcFs(procFs) {}

qint64 SocketOwnerLookup::ownerOf(quint64 inode, uid_t socketUid) const
{
    if (inode == 0)
        return 0;
    const QList<qint64> recent = g_oRecentOwners.snapshot();
    for (const qint64 pid : recent) {
        if (m_oProcFs.holdsSocket(pid, inode)) {
            g_oRecentOwners.remember(pid);
            return pid;
        }
    }
    const qint64 pid = scan(inode, socketUid, recent);
    if (pid != 0)
        g_oRecentOwners.remember(pid);
    return pid;
}

qint64 SocketOwnerLookup::scan(quint64 inode, uid_t socketUid, const QList<qint64> &alreadyChecked) const
{
    const auto pids = m_oProcFs.pids();
    if (!pids.ok())
        return 0;
    QList<qint64> others;
    for (const qint64 pid : pids.value) {
        if (alreadyChecked.contains(pid))
            continue;
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
