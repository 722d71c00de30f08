#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>

// The owner of the other end of a connection, as the kernel records it for that socket.
struct PeerSocketOwner
{
    quint32 uid = 0;
    quint64 inode = 0;
    // Account text of the uid, or "<UNKNOWN>" when the user database has no name for it.
    QString account;
};

// What the server asks the operating system about processes, ports and accounts, and the
// one process it may end. Implementations keep no state: create one per use
// (createProcessUtils()) and call it from any thread.
//
// Account text: domain (the host name on Linux), "/", user name.
// Query operations throw ProcessUtilsImplException subclasses (ProcessUtilsExceptions.h);
// ShutdownProcess answers bool and logs instead.
//
// Only what a server flow calls is here. The order of the virtual operations is part of
// the contract; keep it.
class ProcessUtils
{
public:
    virtual ~ProcessUtils();

    // Asks the process to end, then forces it; blocks up to 10 s. True when it ended.
    virtual bool ShutdownProcess(qint64 pid) = 0;

    // Owner of the IPv4 TCP socket bound to the local port; 0 when none is known.
    virtual qint64 getPidOfProcessAtPort(quint16 port) = 0;
    virtual QString getDomainAndUsernameForPid(qint64 pid) = 0;
    // Owner of the process.
    virtual quint32 getUidForPid(qint64 pid) = 0;
    // Listening port >= minPort of the first process with that name owned by uid; 0 when none.
    virtual quint16 getPortOfUserProcess(quint32 uid, const QString &processName, quint16 minPort) = 0;
    // Executable's complete base name, or "<unknown>".
    virtual QString getProcessNameForPid(qint64 pid) = 0;
    virtual bool isSystemProcess(qint64 pid) = 0;
    virtual QString getDomainAndUsernameForSystemAccount() = 0;
    virtual void writeEventLog(const QString &source, const QString &message) = 0;

    // The TEST command's snapshot; a tool that hangs reads "Command finished with TIMEOUT".
    virtual QByteArray getTaskList() = 0;
    virtual QByteArray getSystemCriticalInfo() = 0;
    virtual QByteArray getSystemDetailInfo() = 0;
    virtual QByteArray getConnectedDevicesInfo() = 0;
    virtual QByteArray getPathVariable() = 0;
    virtual void setPathVariable(const QString &value) = 0;

    // Owner of the other end of the connected TCP socket, asked of the kernel for exactly this
    // connection's two endpoints; none when no process holds that end any more. Throws
    // GetExtendedTcpTableException when the kernel cannot be asked.
    virtual std::optional<PeerSocketOwner> getPeerSocketOwner(qintptr socketDescriptor) = 0;
    // Process holding that other end, found through the socket table among the processes of
    // the socket's owner; 0 when none is visible. For when the kernel cannot be asked.
    virtual qint64 getPidOfConnectionPeer(qintptr socketDescriptor) = 0;
};
