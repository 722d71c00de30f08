#include "SystemInformationReport.h"

#include "logging/LogStatement.h"

namespace {

// The report belongs to the TEST command; its lines carry the command's handler name.
LogStatement reportLog(LogLevel level)
{
    return LogStatement(serverLogChannel(), level, QStringLiteral("CSignController"),
                        QStringLiteral("ProcessTest"));
}

void logSnapshot(ProcessUtils &processUtils)
{
    const QByteArray processes = processUtils.getTaskList();
    reportLog(LogLevel::Info) << "oProcessesList=" << processes;
    const QByteArray critical = processUtils.getSystemCriticalInfo();
    reportLog(LogLevel::Info) << "oSystemCriticalInfo=\n" << critical;
    const QByteArray detail = processUtils.getSystemDetailInfo();
    reportLog(LogLevel::Info) << "oSystemDetailInfo=\n" << detail;
    const QByteArray devices = processUtils.getConnectedDevicesInfo();
    reportLog(LogLevel::Info) << "oConnectedDevicesInfo=" << devices;
}

} // namespace

QByteArray runSystemInformationReport(ProcessUtils &processUtils)
{
    try {
        logSnapshot(processUtils);
    } catch (...) {
        reportLog(LogLevel::Warning) << kSystemInformationFailureText;
        return QByteArray(kSystemInformationFailureText);
    }
    return QByteArrayLiteral("OK");
}
