#pragma once

#include "CommandRunner.h"
#include "EventLogWriter.h"
#include "ProcFs_linux.h"
#include "ProcessUtils.h"
#include "TcpTable_linux.h"

#include <memory>

// ProcessUtils on Linux: /proc for processes and sockets, the user database for accounts,
// syslog for the event log and signals for ending a process. LocalSystem's counterpart is
// root.
class ProcessUtilsLinuxImpl : public ProcessUtils
{
public:
    // Left empty, each is the system's own.
    struct Dependencies
    {
        std::shared_ptr<CommandRunner> runner;
        std::shared_ptr<EventLogWriter> eventLogWriter;
    };

    static constexpr int kSystemInfoTimeoutMs = 3000;
    static constexpr int kShutdownWaitMs = 5000;

    explicit ProcessUtilsLinuxImpl(const QString &procRoot = QStringLiteral("/proc"),
                                   const QString &etcRoot = QStringLiteral("/etc"),
                                   Dependencies dependencies = {});

    bool ShutdownProcess(qint64 pid) override;

    qint64 getPidOfProcessAtPort(quint16 port) override;
    QString getDomainAndUsernameForPid(qint64 pid) override;
    quint32 getUidForPid(qint64 pid) override;
    quint16 getPortOfUserProcess(quint32 uid, const QString &processName, quint16 minPort) override;
    QString getProcessNameForPid(qint64 pid) override;
    bool isSystemProcess(qint64 pid) override;
    QString getDomainAndUsernameForSystemAccount() override;
    void writeEventLog(const QString &source, const QString &message) override;

    QByteArray getTaskList() override;
    QByteArray getSystemCriticalInfo() override;
    QByteArray getSystemDetailInfo() override;
    QByteArray getConnectedDevicesInfo() override;
    QByteArray getPathVariable() override;
    void setPathVariable(const QString &value) override;
    std::optional<PeerSocketOwner> getPeerSocketOwner(qintptr socketDescriptor) override;
    qint64 getPidOfConnectionPeer(qintptr socketDescriptor) override;

    // Listening port >= minPort of the process, first in table order; 0 when none.
    quint16 getPortOfProcessWithPID(qint64 pid, quint16 minPort);

private:
    QList<TcpRow> readTcpTable(const char *method, const QString &errorText) const;
    QList<qint64> allPids(const char *method, const QString &errorText) const;
    uid_t ownerUid(qint64 pid, const char *method) const;
    QString userName(uid_t uid, const char *method) const;
    bool waitUntilEnded(qint64 pid, int timeoutMs) const;
    // Output (stderr appended) of the command, or "Command finished with TIMEOUT".
    QByteArray runSystemCommand(const QString &command, const QStringList &arguments, int timeoutMs);
    QByteArray osReleaseFacts(const QStringList &keys) const;

    ProcFs m_oProcFs;
    QString m_oEtcRoot;
    Dependencies m_oDependencies;
};
