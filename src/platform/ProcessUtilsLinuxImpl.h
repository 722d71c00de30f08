#pragma once

#include "CommandRunner.h"
#include "EventLogWriter.h"
#include "ProcFs_linux.h"
#include "ProcessUtils.h"
#include "SessionSource.h"
#include "TcpTable_linux.h"

#include <memory>

// ProcessUtils on Linux: /proc for processes and sockets, the user database for
// accounts, the login manager for sessions, syslog for the event log, and
// systemctl/pkexec/runuser for control. LocalSystem's counterpart is root.
class ProcessUtilsLinuxImpl : public ProcessUtils
{
public:
    // Left empty, each is the system's own.
    struct Dependencies
    {
        std::shared_ptr<CommandRunner> runner;
        std::shared_ptr<SessionSource> sessionSource;
        std::shared_ptr<EventLogWriter> eventLogWriter;
        // Where desktop entries of browsers are looked for.
        QStringList applicationDirs;
    };

    static constexpr int kSystemInfoTimeoutMs = 3000;
    static constexpr int kShutdownWaitMs = 5000;
    static constexpr int kServiceTimeoutMs = 30000;

    explicit ProcessUtilsLinuxImpl(const QString &procRoot = QStringLiteral("/proc"),
                                   const QString &etcRoot = QStringLiteral("/etc"),
                                   Dependencies dependencies = {});

    bool StartProcessAsAdmin(const QString &program, const QStringList &arguments) override;
    bool StartProcessAsAdmin(const QString &program) override;
    bool StartProcess(const QString &program, const QStringList &arguments) override;
    bool StartProcess(const QString &program) override;
    bool StartSystemService(const QString &serviceName) override;
    bool StopSystemService(const QString &serviceName) override;
    bool ShutdownProcess(qint64 pid) override;
    void killProcessByName(const QString &imageName) override;
    bool enableDebugPrivilege() override;

    QList<qint64> getPIDsOfAllProcesses() override;
    QList<qint64> getPIDsOfCurrentUserProcesses() override;
    QList<qint64> getPIDsOfSystemProcesses() override;
    QList<qint64> getPIDsOfProcessesMatching(const QString &filter) override;
    bool isUserAdmin() override;
    QString getUsernameForPid(qint64 pid) override;
    qint64 getLifetimeForPids(qint64 pid) override;
    qint64 getPidOfProcessAtPort(quint16 port) override;
    QString getDomainAndUsernameForPid(qint64 pid) override;
    QString getActiveConsoleSessionID() override;
    QString getDomainAndUsernameForSingleActiveSession() override;
    QStringList getDomainAndUsernamesForActiveSessions() override;
    bool isProcessOnConsoleUser(qint64 pid) override;
    quint16 getPortOfUserProcess(const QString &account, const QString &processName,
                                 quint16 minPort) override;
    QString getProcessNameForPid(qint64 pid) override;
    bool isSystemProcess(qint64 pid) override;
    QString getDomainAndUsernameForSystemAccount() override;
    bool isProcessElevated(qint64 pid) override;
    void writeEventLog(const QString &source, const QString &message) override;

    QByteArray getTaskList() override;
    QByteArray getSystemCriticalInfo() override;
    QByteArray getSystemDetailInfo() override;
    QString getBrowsersInfo() override;
    QString getAntivirusInfo() override;
    QByteArray getConnectedDevicesInfo() override;
    QByteArray getPathVariable() override;
    void setPathVariable(const QString &value) override;
    bool RunAsDesktopUser(const QString &program, const QStringList &arguments) override;
    QByteArray runSystemCommand(const QString &command, const QStringList &arguments, int timeoutMs) override;
    std::optional<PeerSocketOwner> getPeerSocketOwner(qintptr socketDescriptor) override;
    qint64 getPidOfConnectionPeer(qintptr socketDescriptor) override;

    // Listening port >= minPort of the process, first in table order; 0 when none.
    quint16 getPortOfProcessWithPID(qint64 pid, quint16 minPort);

private:
    QList<TcpRow> readTcpTable(const char *method, const QString &errorText) const;
    QList<qint64> allPids(const char *method, const QString &errorText) const;
    uid_t ownerUid(qint64 pid, const char *method) const;
    QString userName(uid_t uid, bool withDomain, const char *method) const;
    QList<LoginSession> getActiveSessionsIDs();
    void logSessionDetails(const LoginSession &session) const;
    QString activeDesktopUser();

    bool waitUntilEnded(qint64 pid, int timeoutMs) const;
    bool openSystemService(const QString &serviceName);
    QString serviceState(const QString &serviceName);
    bool waitForServiceStop(const QString &serviceName, qint64 startedMs);
    bool startForDesktopUser(const QString &program, const QStringList &arguments);

    QByteArray osReleaseFacts(const QStringList &keys) const;
    QString browserVersion(const QString &executable);

    ProcFs m_oProcFs;
    QString m_oEtcRoot;
    Dependencies m_oDependencies;
};
