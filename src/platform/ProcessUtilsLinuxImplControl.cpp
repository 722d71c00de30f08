// The control side of ProcessUtilsLinuxImpl: signals, systemd units, elevated and
// desktop-user starts, PATH.
#include "ProcessUtilsExceptions.h"
#include "ProcessUtilsLinuxImpl.h"
#include "UserDatabase_linux.h"
#include "logging/LogStatement.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>
#include <csignal>
#include <limits>
#include <unistd.h>

namespace {

const QString kSystemctl = QStringLiteral("systemctl");
constexpr int kPollIntervalMs = 20;
// No unit reports a wait hint; the lower clamp of the stop wait is used.
constexpr int kServicePollIntervalMs = 1000;
// CAP_SYS_PTRACE: what lets a process look into other accounts' processes.
constexpr int kCapSysPtrace = 19;

bool isPlausiblePid(qint64 pid)
{
    return pid > 0 && pid <= std::numeric_limits<pid_t>::max();
}

bool isStopped(const QString &state)
{
    return state == QLatin1String("inactive") || state == QLatin1String("failed");
}

QStringList asUser(const QString &user, const QString &program, const QStringList &arguments)
{
    return QStringList{QStringLiteral("-u"), user, QStringLiteral("--"), program} + arguments;
}

bool hasCapability(const QByteArray &statusText, int capability)
{
    for (const QByteArray &line : statusText.split('\n')) {
        if (!line.startsWith("CapEff:"))
            continue;
        bool ok = false;
        const quint64 mask = line.mid(7).trimmed().toULongLong(&ok, 16);
        return ok && (mask & (quint64(1) << capability)) != 0;
    }
    return false;
}

} // namespace

bool ProcessUtilsLinuxImpl::ShutdownProcess(qint64 pid)
{
    VYR_LOG(processUtilsLogChannel(), Info) << "Killing proceess with pid " << pid;
    VYR_LOG(processUtilsLogChannel(), Info) << "Opening proces with pid <" << pid << ">";
    if (!isPlausiblePid(pid) || !m_oProcFs.isRunning(pid) || ::kill(pid_t(pid), 0) != 0) {
        VYR_LOG(processUtilsLogChannel(), Warning) << "Process with pid <" << pid << "> was not opened";
        return false;
    }
    // SIGTERM is the polite close request: the process may save and exit by itself.
    VYR_LOG(processUtilsLogChannel(), Info)
        << "Terminating all windows for application with pid <" << pid << ">";
    ::kill(pid_t(pid), SIGTERM);
    VYR_LOG(processUtilsLogChannel(), Info) << "Wait on the process handle to be signaled";
    bool bStatus = waitUntilEnded(pid, kShutdownWaitMs);
    if (bStatus) {
        VYR_LOG(processUtilsLogChannel(), Info) << "Process was signaled";
    } else {
        VYR_LOG(processUtilsLogChannel(), Info) << "Process was not signaled, terminating...";
        ::kill(pid_t(pid), SIGKILL);
        bStatus = waitUntilEnded(pid, kShutdownWaitMs);
        if (bStatus)
            VYR_LOG(processUtilsLogChannel(), Info) << "Process terminated successfully";
        else
            VYR_LOG(processUtilsLogChannel(), Warning)
                << "Can't wait for process termination. Process can be still alive";
    }
    VYR_LOG(processUtilsLogChannel(), Info) << "Kill finished. Status: " << bStatus;
    return bStatus;
}

bool ProcessUtilsLinuxImpl::waitUntilEnded(qint64 pid, int timeoutMs) const
{
    // Polls /proc rather than waitpid: the process need not be our child, and a child
    // of ours is reaped by whoever started it.
    const QDeadlineTimer deadline(timeoutMs);
    while (m_oProcFs.isRunning(pid)) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(kPollIntervalMs);
    }
    return true;
}

void ProcessUtilsLinuxImpl::killProcessByName(const QString &imageName)
{
    const auto pids = m_oProcFs.pids();
    if (imageName.isEmpty() || !pids.ok())
        return;
    const qint64 ownPid = getpid();
    for (const qint64 pid : pids.value) {
        if (pid == ownPid || !isPlausiblePid(pid) || m_oProcFs.executableFileName(pid) != imageName)
            continue;
        const bool bKilled = ::kill(pid_t(pid), SIGKILL) == 0;
        VYR_LOG(processUtilsLogChannel(), Info)
            << "Killing process <" << imageName << "> with pid <" << pid << ">: " << bKilled;
    }
}

bool ProcessUtilsLinuxImpl::enableDebugPrivilege()
{
    // Linux has nothing to switch on: reading other accounts' processes needs
    // CAP_SYS_PTRACE, which the process either was given or was not.
    const auto status = ProcFs::readFile(m_oProcFs.root() + QStringLiteral("/self/status"));
    if (status.ok() && hasCapability(status.value, kCapSysPtrace))
        return true;
    VYR_LOG(processUtilsLogChannel(), Warning) << "The token does not have the specified privilege.";
    return false;
}

QByteArray ProcessUtilsLinuxImpl::getPathVariable()
{
    return qgetenv("PATH");
}

void ProcessUtilsLinuxImpl::setPathVariable(const QString &value)
{
    qputenv("PATH", value.toLocal8Bit());
}

QString ProcessUtilsLinuxImpl::activeDesktopUser()
{
    const SessionQuery query = m_oDependencies.sessionSource->querySessions();
    QStringList activeUsers;
    for (const LoginSession &session : query.sessions) {
        if (!session.active || session.userName.isEmpty())
            continue;
        if (session.seat == QLatin1String("seat0"))
            return session.userName;
        activeUsers.append(session.userName);
    }
    activeUsers.removeDuplicates();
    return activeUsers.size() == 1 ? activeUsers.first() : QString();
}

bool ProcessUtilsLinuxImpl::startForDesktopUser(const QString &program, const QStringList &arguments)
{
    // A root instance starts programs for the person at the desktop, not for itself.
    const QString desktopUser = activeDesktopUser();
    const auto ownName = UserDatabase::userName(geteuid());
    if (!desktopUser.isEmpty() && ownName.ok() && desktopUser != ownName.value)
        return m_oDependencies.runner->startDetached(QStringLiteral("runuser"),
                                                     asUser(desktopUser, program, arguments));
    return m_oDependencies.runner->startDetached(program, arguments);
}

bool ProcessUtilsLinuxImpl::StartProcess(const QString &program, const QStringList &arguments)
{
    VYR_LOG(processUtilsLogChannel(), Info)
        << "---= STARTING NEW PROCESS WITH NAME: <" << program << "> AND ARGUMENTS: <"
        << arguments.join(QLatin1Char(',')) << "> =---";
    const bool bStarted = startForDesktopUser(program, arguments);
    if (bStarted)
        VYR_LOG(processUtilsLogChannel(), Info)
            << "---= STARTED NEW PROCESS WITH NAME: <" << program << "> =---";
    return bStarted;
}

bool ProcessUtilsLinuxImpl::StartProcess(const QString &program)
{
    return StartProcess(program, {});
}

bool ProcessUtilsLinuxImpl::StartProcessAsAdmin(const QString &program, const QStringList &arguments)
{
    VYR_LOG(processUtilsLogChannel(), Info)
        << "---= STARTING NEW PROCESS AS ADMIN WITH NAME: <" << program << "> AND ARGUMENTS: <"
        << arguments.join(QLatin1Char(',')) << "> =---";
    // pkexec asks the desktop's authentication agent, as the elevation prompt would.
    return m_oDependencies.runner->startDetached(QStringLiteral("pkexec"), QStringList{program} + arguments);
}

bool ProcessUtilsLinuxImpl::StartProcessAsAdmin(const QString &program)
{
    return StartProcessAsAdmin(program, {});
}

bool ProcessUtilsLinuxImpl::RunAsDesktopUser(const QString &program, const QStringList &arguments)
{
    const QString desktopUser = activeDesktopUser();
    if (desktopUser.isEmpty()) {
        VYR_LOG(processUtilsLogChannel(), Warning) << "No desktop shell is present";
        return false;
    }
    const bool bStarted = m_oDependencies.runner->startDetached(QStringLiteral("runuser"),
                                                                asUser(desktopUser, program, arguments));
    if (!bStarted)
        VYR_LOG(processUtilsLogChannel(), Warning) << "CreateProcessWithTokenW failed: " << program;
    return bStarted;
}

bool ProcessUtilsLinuxImpl::openSystemService(const QString &serviceName)
{
    VYR_LOG(processUtilsLogChannel(), Info)
        << "---= STARTING SYSTEM SERVICE WITH NAME: <" << serviceName << "> =---";
    const CommandResult result =
        m_oDependencies.runner->run(kSystemctl,
                                    {QStringLiteral("show"), QStringLiteral("--property=LoadState"),
                                     QStringLiteral("--value"), serviceName},
                                    kServiceTimeoutMs);
    if (!result.succeeded()) {
        VYR_LOG(processUtilsLogChannel(), Warning) << "Cannot open SCManager";
        return false;
    }
    const QByteArray loadState = result.output.trimmed();
    if (loadState.isEmpty() || loadState == "not-found") {
        VYR_LOG(processUtilsLogChannel(), Warning) << "Cannot open service";
        return false;
    }
    VYR_LOG(processUtilsLogChannel(), Info) << "Service was opened";
    return true;
}

QString ProcessUtilsLinuxImpl::serviceState(const QString &serviceName)
{
    // is-active answers non-zero for every state but "active"; only its text counts.
    const CommandResult result = m_oDependencies.runner->run(
        kSystemctl, {QStringLiteral("is-active"), serviceName}, kServiceTimeoutMs);
    return result.finished ? QString::fromUtf8(result.output).trimmed() : QString();
}

bool ProcessUtilsLinuxImpl::StartSystemService(const QString &serviceName)
{
    if (!openSystemService(serviceName))
        return false;
    const CommandResult result =
        m_oDependencies.runner->run(kSystemctl, {QStringLiteral("start"), serviceName}, kServiceTimeoutMs);
    if (!result.succeeded()) {
        VYR_LOG(processUtilsLogChannel(), Warning) << "Cannot start service";
        return false;
    }
    VYR_LOG(processUtilsLogChannel(), Info) << "Service was started";
    return true;
}

bool ProcessUtilsLinuxImpl::StopSystemService(const QString &serviceName)
{
    if (!openSystemService(serviceName))
        return false;
    QElapsedTimer elapsed;
    elapsed.start();
    const QString state = serviceState(serviceName);
    if (state.isEmpty()) {
        VYR_LOG(processUtilsLogChannel(), Warning) << "QueryServiceStatusEx failed " << serviceName;
        return false;
    }
    if (isStopped(state)) {
        VYR_LOG(processUtilsLogChannel(), Info) << "Service is already stopped.";
        return true;
    }
    if (state == QLatin1String("deactivating"))
        return waitForServiceStop(serviceName, elapsed.elapsed());
    // systemctl stop waits for the unit to stop, bounded by the service timeout.
    const CommandResult result =
        m_oDependencies.runner->run(kSystemctl, {QStringLiteral("stop"), serviceName}, kServiceTimeoutMs);
    if (result.timedOut) {
        VYR_LOG(processUtilsLogChannel(), Warning) << "Wait timed out";
        return false;
    }
    if (!result.succeeded()) {
        VYR_LOG(processUtilsLogChannel(), Warning) << "ControlService failed.";
        return false;
    }
    VYR_LOG(processUtilsLogChannel(), Info) << "Service stopped successfully.";
    return true;
}

bool ProcessUtilsLinuxImpl::waitForServiceStop(const QString &serviceName, qint64 startedMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    for (;;) {
        VYR_LOG(processUtilsLogChannel(), Info) << "Service stop pending...";
        QThread::msleep(kServicePollIntervalMs);
        const QString state = serviceState(serviceName);
        if (state.isEmpty()) {
            VYR_LOG(processUtilsLogChannel(), Warning) << "QueryServiceStatusEx failed " << serviceName;
            return false;
        }
        if (isStopped(state)) {
            VYR_LOG(processUtilsLogChannel(), Info) << "Service stopped successfully";
            return true;
        }
        if (startedMs + elapsed.elapsed() > kServiceTimeoutMs) {
            VYR_LOG(processUtilsLogChannel(), Warning) << "Service stop timed out.";
            return false;
        }
    }
}
