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

// What the server asks the operating system about processes, ports, sessions and
// accounts, and how it controls processes and services. Implementations keep no state:
// create one per use (createProcessUtils()) and call it from any thread.
//
// Account text: domain (the host name on Linux), "/", user name.
// Query operations throw ProcessUtilsImplException subclasses (ProcessUtilsExceptions.h);
// control operations answer bool and log instead.
//
// The order of the virtual operations is part of the contract; keep it.
class ProcessUtils
{
public:
    virtual ~ProcessUtils();

    // Starts the program elevated without waiting; true when the request was accepted.
    virtual bool StartProcessAsAdmin(const QString &program, const QStringList &arguments) = 0;
    virtual bool StartProcessAsAdmin(const QString &program) = 0;
    // Starts the program as a child and waits up to 10 s for it to start.
    virtual bool StartProcess(const QString &program, const QStringList &arguments) = 0;
    virtual bool StartProcess(const QString &program) = 0;
    virtual bool StartSystemService(const QString &serviceName) = 0;
    virtual bool StopSystemService(const QString &serviceName) = 0;
    // Asks the process to end, then forces it; blocks up to 10 s. True when it ended.
    virtual bool ShutdownProcess(qint64 pid) = 0;
    virtual void killProcessByName(const QString &imageName) = 0;
    virtual bool enableDebugPrivilege() = 0;

    virtual QList<qint64> getPIDsOfAllProcesses() = 0;
    virtual QList<qint64> getPIDsOfCurrentUserProcesses() = 0;
    virtual QList<qint64> getPIDsOfSystemProcesses() = 0;
    // Pids whose owner (account text or user name) or process name equals the filter,
    // case-insensitively.
    virtual QList<qint64> getPIDsOfProcessesMatching(const QString &filter) = 0;
    virtual bool isUserAdmin() = 0;
    virtual QString getUsernameForPid(qint64 pid) = 0;
    // Milliseconds since the process started.
    virtual qint64 getLifetimeForPids(qint64 pid) = 0;
    // Owner of the IPv4 TCP socket bound to the local port; 0 when none is known.
    virtual qint64 getPidOfProcessAtPort(quint16 port) = 0;
    virtual QString getDomainAndUsernameForPid(qint64 pid) = 0;
    // Account text of the active console session, or "<NO ACTIVE CONSOLE SESSION>".
    virtual QString getActiveConsoleSessionID() = 0;
    // Throws ActiveSessionException unless exactly one session is active.
    virtual QString getDomainAndUsernameForSingleActiveSession() = 0;
    virtual QStringList getDomainAndUsernamesForActiveSessions() = 0;
    virtual bool isProcessOnConsoleUser(qint64 pid) = 0;
    // Listening port >= minPort of the first process with that name and account; 0 when none.
    virtual quint16 getPortOfUserProcess(const QString &account, const QString &processName,
                                         quint16 minPort) = 0;
    // Executable's complete base name, or "<unknown>".
    virtual QString getProcessNameForPid(qint64 pid) = 0;
    virtual bool isSystemProcess(qint64 pid) = 0;
    virtual QString getDomainAndUsernameForSystemAccount() = 0;
    virtual bool isProcessElevated(qint64 pid) = 0;
    virtual void writeEventLog(const QString &source, const QString &message) = 0;

    virtual QByteArray getTaskList() = 0;
    virtual QByteArray getSystemCriticalInfo() = 0;
    virtual QByteArray getSystemDetailInfo() = 0;
    virtual QString getBrowsersInfo() = 0;
    virtual QString getAntivirusInfo() = 0;
    virtual QByteArray getConnectedDevicesInfo() = 0;
    virtual QByteArray getPathVariable() = 0;
    virtual void setPathVariable(const QString &value) = 0;
    // Starts the program on the account of the active desktop session.
    virtual bool RunAsDesktopUser(const QString &program, const QStringList &arguments) = 0;
    // Output (stderr merged) of the command, or "Command finished with TIMEOUT".
    virtual QByteArray runSystemCommand(const QString &command, const QStringList &arguments,
                                        int timeoutMs) = 0;

    // Owner of the other end of the connected TCP socket, asked of the kernel for exactly this
    // connection's two endpoints; none when no process holds that end any more. Throws
    // GetExtendedTcpTableException when the kernel cannot be asked.
    virtual std::optional<PeerSocketOwner> getPeerSocketOwner(qintptr socketDescriptor) = 0;
    // Process holding that other end, found through the socket table among the processes of
    // the socket's owner; 0 when none is visible. For when the kernel cannot be asked.
    virtual qint64 getPidOfConnectionPeer(qintptr socketDescriptor) = 0;
};
