#pragma once

#include "platform/ProcessUtils.h"

#include <QMutex>
#include <QPair>

// The test double behind createProcessUtils() in this test executable: it records event
// log entries and keeps PATH in memory, so tests neither need a syslog daemon nor change
// their own environment.
class FakeProcessUtils : public ProcessUtils
{
public:
    struct Record
    {
        QList<QPair<QString, QString>> eventLog; // source, message
        QByteArray path;
    };
    static Record record();
    static void reset(const QByteArray &path = QByteArray());

    bool StartProcessAsAdmin(const QString &, const QStringList &) override { return false; }
    bool StartProcessAsAdmin(const QString &) override { return false; }
    bool StartProcess(const QString &, const QStringList &) override { return false; }
    bool StartProcess(const QString &) override { return false; }
    bool StartSystemService(const QString &) override { return false; }
    bool StopSystemService(const QString &) override { return false; }
    bool ShutdownProcess(qint64) override { return false; }
    void killProcessByName(const QString &) override {}
    bool enableDebugPrivilege() override { return false; }
    QList<qint64> getPIDsOfAllProcesses() override { return {}; }
    QList<qint64> getPIDsOfCurrentUserProcesses() override { return {}; }
    QList<qint64> getPIDsOfSystemProcesses() override { return {}; }
    QList<qint64> getPIDsOfProcessesMatching(const QString &) override { return {}; }
    bool isUserAdmin() override { return false; }
    QString getUsernameForPid(qint64) override { return {}; }
    qint64 getLifetimeForPids(qint64) override { return 0; }
    qint64 getPidOfProcessAtPort(quint16) override { return 0; }
    QString getDomainAndUsernameForPid(qint64) override { return {}; }
    QString getActiveConsoleSessionID() override { return {}; }
    QString getDomainAndUsernameForSingleActiveSession() override { return {}; }
    QStringList getDomainAndUsernamesForActiveSessions() override { return {}; }
    bool isProcessOnConsoleUser(qint64) override { return false; }
    quint16 getPortOfUserProcess(const QString &, const QString &, quint16) override { return 0; }
    QString getProcessNameForPid(qint64) override { return {}; }
    bool isSystemProcess(qint64) override { return false; }
    QString getDomainAndUsernameForSystemAccount() override { return {}; }
    bool isProcessElevated(qint64) override { return false; }
    void writeEventLog(const QString &source, const QString &message) override;
    QByteArray getTaskList() override { return {}; }
    QByteArray getSystemCriticalInfo() override { return {}; }
    QByteArray getSystemDetailInfo() override { return {}; }
    QString getBrowsersInfo() override { return {}; }
    QString getAntivirusInfo() override { return {}; }
    QByteArray getConnectedDevicesInfo() override { return {}; }
    QByteArray getPathVariable() override;
    void setPathVariable(const QString &value) override;
    bool RunAsDesktopUser(const QString &, const QStringList &) override { return false; }
    QByteArray runSystemCommand(const QString &, const QStringList &, int) override { return {}; }
};
