// The control side of ProcessUtilsLinuxImpl: ending a process, PATH.
#include "ProcessUtilsLinuxImpl.h"
#include "logging/LogStatement.h"

#include <QDeadlineTimer>
#include <QThread>
#include <csignal>
#include <limits>
#include <unistd.h>

namespace {

constexpr int kPollIntervalMs = 20;

bool isPlausiblePid(qint64 pid)
{
    return pid > 0 && pid <= std::numeric_limits<pid_t>::max();
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

QByteArray ProcessUtilsLinuxImpl::getPathVariable()
{
    return qgetenv("PATH");
}

void ProcessUtilsLinuxImpl::setPathVariable(const QString &value)
{
    qputenv("PATH", value.toLocal8Bit());
}
