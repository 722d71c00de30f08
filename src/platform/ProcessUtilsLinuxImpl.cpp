#include "ProcessUtilsLinuxImpl.h"

#include "PeerSocketQuery_linux.h"
#include "ProcessUtilsExceptions.h"
#include "QProcessCommandRunner.h"
#include "SocketOwnerLookup_linux.h"
#include "SyslogEventLogWriter_linux.h"
#include "UserDatabase_linux.h"
#include "logging/LogStatement.h"

#include <QtEndian>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kUnknown = QStringLiteral("<UNKNOWN>");

// Logged under the operation's name before it leaves the layer.
[[noreturn]] void raiseLogged(const char *method, const ProcessUtilsImplException &exception)
{
    LogStatement(processUtilsLogChannel(), LogLevel::Error, QStringLiteral("ProcessUtilsLinuxImpl"),
                 QString::fromLatin1(method))
        << "Exception: " << exception.getStackTrace();
    exception.raise();
    std::abort(); // raise() always throws
}

} // namespace

ProcessUtilsLinuxImpl::ProcessUtilsLinuxImpl(const QString &procRoot, const QString &etcRoot,
                                             Dependencies dependencies)
    : m_oProcFs(procRoot), m_oEtcRoot(etcRoot), m_oDependencies(std::move(dependencies))
{
    if (!m_oDependencies.runner)
        m_oDependencies.runner = std::make_shared<QProcessCommandRunner>();
    if (!m_oDependencies.eventLogWriter)
        m_oDependencies.eventLogWriter = std::make_shared<SyslogEventLogWriter>();
}

QList<TcpRow> ProcessUtilsLinuxImpl::readTcpTable(const char *method, const QString &errorText) const
{
    const auto table = TcpTable::read(m_oProcFs.root());
    if (!table.ok())
        raiseLogged(method, GetExtendedTcpTableException(errorText.arg(table.error)));
    return table.value;
}

QList<qint64> ProcessUtilsLinuxImpl::allPids(const char *method, const QString &errorText) const
{
    const auto pids = m_oProcFs.pids();
    if (!pids.ok())
        raiseLogged(method, EnumProcessesException(errorText.arg(pids.error)));
    return pids.value;
}

uid_t ProcessUtilsLinuxImpl::ownerUid(qint64 pid, const char *method) const
{
    const auto uid = m_oProcFs.ownerUid(pid);
    if (!uid.ok())
        raiseLogged(method,
                    OpenProcessException(
                        QStringLiteral("OpenProcess with pid: %1 Error: %2").arg(pid).arg(uid.error)));
    return uid.value;
}

QString ProcessUtilsLinuxImpl::userName(uid_t uid, const char *method) const
{
    const auto name = UserDatabase::userName(uid);
    if (!name.ok()) {
        raiseLogged(
            method,
            LookupAccountSidException(
                QStringLiteral("ProcessUtilsWinImpl::getDomainAndUserNameFromSID LookupAccountSid Error: %1")
                    .arg(name.error)));
    }
    return UserDatabase::accountText(name.value);
}

qint64 ProcessUtilsLinuxImpl::getPidOfProcessAtPort(quint16 port)
{
    const QList<TcpRow> rows = readTcpTable(
        __func__, QStringLiteral("ProcessUtilsWinImpl::getPidOfProcessAtPort GetExtendedTcpTable Error: %1"));
    for (const TcpRow &row : rows) {
        // Closed sockets waiting out TIME_WAIT keep the port but have no socket (inode 0).
        if (row.localPort != port || row.inode == 0)
            continue;
        const qint64 pid = SocketOwnerLookup(m_oProcFs).ownerOf(row.inode, row.uid);
        VYR_LOG(processUtilsLogChannel(), Debug) << "Got client pid(" << pid << ")";
        return pid;
    }
    return 0;
}

std::optional<PeerSocketOwner> ProcessUtilsLinuxImpl::getPeerSocketOwner(qintptr socketDescriptor)
{
    const auto ends = PeerSocketQuery::endsOf(int(socketDescriptor));
    // A peer that has already gone leaves nobody to name.
    if (ends.error == ENOTCONN)
        return std::nullopt;
    const auto owner = ends.ok() ? PeerSocketQuery::peerOwner(ends.value)
                                 : SysResult<std::optional<SocketOwner>>::failure(ends.error);
    if (!owner.ok()) {
        raiseLogged(__func__,
                    GetExtendedTcpTableException(
                        QStringLiteral("ProcessUtilsLinuxImpl::getPeerSocketOwner sock_diag Error: %1")
                            .arg(owner.error)));
    }
    if (!owner.value)
        return std::nullopt;
    const auto name = UserDatabase::userName(owner.value->uid);
    const QString account = name.ok() ? UserDatabase::accountText(name.value) : kUnknown;
    return PeerSocketOwner{owner.value->uid, owner.value->inode, account};
}

qint64 ProcessUtilsLinuxImpl::getPidOfConnectionPeer(qintptr socketDescriptor)
{
    const auto ends = PeerSocketQuery::endsOf(int(socketDescriptor));
    // The table read here lists IPv4 sockets, the only ones the server accepts.
    if (!ends.ok() || ends.value.family != AF_INET)
        return 0;
    const quint32 local = qFromBigEndian<quint32>(ends.value.localAddress.data());
    const quint32 peer = qFromBigEndian<quint32>(ends.value.peerAddress.data());
    const QList<TcpRow> rows = readTcpTable(
        __func__, QStringLiteral("ProcessUtilsWinImpl::getPidOfProcessAtPort GetExtendedTcpTable Error: %1"));
    for (const TcpRow &row : rows) {
        if (row.localAddress == peer && row.localPort == ends.value.peerPort && row.remoteAddress == local &&
            row.remotePort == ends.value.localPort && row.inode != 0)
            return SocketOwnerLookup(m_oProcFs).ownerOf(row.inode, row.uid);
    }
    return 0;
}

quint16 ProcessUtilsLinuxImpl::getPortOfProcessWithPID(qint64 pid, quint16 minPort)
{
    const QList<TcpRow> rows = readTcpTable(
        __func__,
        QStringLiteral("ProcessUtilsWinImpl::getPortOfProcessWithPID GetExtendedTcpTable Error: %1"));
    const QSet<quint64> inodes = m_oProcFs.socketInodes(pid);
    for (const TcpRow &row : rows) {
        if (row.state == TcpTable::kStateListen && row.localPort >= minPort && inodes.contains(row.inode))
            return row.localPort;
    }
    return 0;
}

quint16 ProcessUtilsLinuxImpl::getPortOfUserProcess(quint32 uid, const QString &processName, quint16 minPort)
{
    const QList<qint64> pids = allPids(
        __func__, QStringLiteral("ProcessUtilsWinImpl::getPortOfUserProcess EnumProcesses Error: %1"));
    for (const qint64 pid : pids) {
        if (getProcessNameForPid(pid).compare(processName, Qt::CaseInsensitive) != 0)
            continue;
        // A process that ended since the enumeration has no owner any more.
        const auto owner = m_oProcFs.ownerUid(pid);
        if (!owner.ok() || owner.value != uid)
            continue;
        if (const quint16 port = getPortOfProcessWithPID(pid, minPort); port != 0) {
            VYR_LOG(processUtilsLogChannel(), Info)
                << "Found application with pid(" << pid << ") on port(" << port << ")";
            return port;
        }
    }
    return 0;
}

QString ProcessUtilsLinuxImpl::getProcessNameForPid(qint64 pid)
{
    const QString name = pid > 0 ? m_oProcFs.processName(pid) : QString();
    return name.isEmpty() ? QStringLiteral("<unknown>") : name;
}

QString ProcessUtilsLinuxImpl::getDomainAndUsernameForPid(qint64 pid)
{
    return userName(ownerUid(pid, __func__), __func__);
}

quint32 ProcessUtilsLinuxImpl::getUidForPid(qint64 pid)
{
    return ownerUid(pid, __func__);
}

bool ProcessUtilsLinuxImpl::isSystemProcess(qint64 pid)
{
    return ownerUid(pid, __func__) == 0;
}

QString ProcessUtilsLinuxImpl::getDomainAndUsernameForSystemAccount()
{
    const auto name = UserDatabase::userName(0);
    if (!name.ok()) {
        VYR_LOG(processUtilsLogChannel(), Error) << "Can't obtain system SID!";
        return kUnknown;
    }
    VYR_LOG(processUtilsLogChannel(), Debug) << "system SID obtained";
    return UserDatabase::accountText(name.value);
}

void ProcessUtilsLinuxImpl::writeEventLog(const QString &source, const QString &message)
{
    // An entry without a source could not be told apart from anyone else's.
    if (source.isEmpty())
        return;
    m_oDependencies.eventLogWriter->writeError(source, message);
}
